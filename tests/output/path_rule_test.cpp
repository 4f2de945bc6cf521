#include <gtest/gtest.h>

#include <QImageWriter>

#include "image_encoder.h"

namespace {

TEST(ExtensionOfPath, LastDotOfWholePathLowerCased) {
    const struct {
        const char* path;
        const char* extension;
    } cases[] = {
        {"a.JPG", "jpg"},   {"a.jpeg", "jpeg"},
        {"a.", ""},         {"x", ""},
        {".png", ""},       {"/my.pics/a", "pics/a"},
        {"b.tar.Gz", "gz"}, {"/home/u/Photo.Png", "png"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExtensionOfPath(QString::fromUtf8(c.path)), QString::fromUtf8(c.extension))
            << c.path;
}

TEST(ResolvePictureFilePath, KnownExtensionsKeptOthersBecomePng) {
    const struct {
        const char* typed;
        const char* written;
        const char* mime;
    } cases[] = {
        {"a.JPG", "a.JPG", "image/jpeg"},
        {"a.jpg", "a.jpg", "image/jpeg"},
        {"a.Gif", "a.Gif", "image/gif"},
        {"a.bmp", "a.bmp", "image/bmp"},
        {"a.png", "a.png", "image/png"},
        {"a.jpeg", "a.jpeg.png", "image/png"},
        {"a.pg", "a.pg.png", "image/png"},
        {"a.", "a..png", "image/png"},
        {"/my.pics/a", "/my.pics/a.png", "image/png"},
        {".png", ".png.png", "image/png"},
        {"x", "x.png", "image/png"},
        {"图片1", "图片1.png", "image/png"},
    };
    for (const auto& c : cases) {
        const PictureFilePath r = ResolvePictureFilePath(QString::fromUtf8(c.typed));
        EXPECT_EQ(r.path, QString::fromUtf8(c.written)) << c.typed;
        EXPECT_EQ(r.mimeType, QString::fromUtf8(c.mime)) << c.typed;
        ImageEncoderId id{};
        EXPECT_GE(FindImageEncoder(r.mimeType, &id), 0) << c.typed;
        EXPECT_EQ(MimeTypeOfEncoder(id), r.mimeType) << c.typed;
    }
}

TEST(FindImageEncoder, FixedOrderExactMatchAndOutUntouchedOnMiss) {
    const struct {
        const char* mime;
        int index;
        ImageEncoderId id;
    } known[] = {
        {"image/bmp", 0, ImageEncoderId::Bmp},
        {"image/jpeg", 1, ImageEncoderId::Jpeg},
        {"image/gif", 2, ImageEncoderId::Gif},
        {"image/png", 3, ImageEncoderId::Png},
    };
    for (const auto& c : known) {
        ImageEncoderId out = ImageEncoderId::Webp;
        EXPECT_EQ(FindImageEncoder(QString::fromLatin1(c.mime), &out), c.index) << c.mime;
        EXPECT_EQ(out, c.id) << c.mime;
    }
    for (const char* unknown : {"image/PNG", "image/png ", "image/tiff", "png", ""}) {
        ImageEncoderId out = ImageEncoderId::Webp;
        EXPECT_EQ(FindImageEncoder(QString::fromLatin1(unknown), &out), -1) << unknown;
        EXPECT_EQ(out, ImageEncoderId::Webp) << unknown;
    }
    ImageEncoderId out = ImageEncoderId::Bmp;
    const bool webp = QImageWriter::supportedMimeTypes().contains("image/webp");
    EXPECT_EQ(FindImageEncoder(QStringLiteral("image/webp"), &out), webp ? 4 : -1);
    EXPECT_EQ(out, webp ? ImageEncoderId::Webp : ImageEncoderId::Bmp);
}

}  // namespace
