#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <utility>
#include <vector>

#include "bomb_files.h"
#include "image_encoder.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "test_pictures.h"

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(DecodePictureFile, WhatDoesNotDecodeGivesNoPicture) {
    QTemporaryDir dir;
    const QByteArray goodPng = [] {
        QByteArray b;
        EncodePngToMemory(MakeTestPicture(64, 48), b);
        return b;
    }();
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty.png", QByteArray()},
        {"garbage.png", QByteArray("this is not a picture at all, just some text bytes")},
        {"truncated.png", goodPng.left(40)},
        {"huge.png", PngDeclaring(100000, 100000)},
        {"zero.png", PngDeclaring(0, 10)},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        WriteFile(path, c.bytes);
        EXPECT_FALSE(DecodePictureFile(path).has_value()) << c.name;
    }
    EXPECT_FALSE(DecodePictureFile(dir.filePath("missing.png")).has_value());
    // A pipe nobody writes to would block a reader for ever.
    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(DecodePictureFile(fifo).has_value());
    EXPECT_FALSE(DecodePictureFile(QStringLiteral("/dev/zero")).has_value());
    EXPECT_FALSE(DecodePictureFile(dir.path()).has_value());
    EXPECT_FALSE(DecodePictureFile(QString()).has_value());
}

TEST(DecodePictureFile, DecodesStraightAlphaWithinThePixelLimit) {
    QTemporaryDir dir;
    Picture p = MakeTestPicture(64, 48, true);
    p.SetResolution(200, 200);
    const QString path = dir.filePath("t.png");
    ASSERT_EQ(WritePicture(p, path, ImageEncoderId::Png, 100), Status::Ok);

    const std::optional<Picture> back = DecodePictureFile(path);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->Width(), 64);
    ASSERT_EQ(back->Height(), 48);
    EXPECT_NEAR(back->DpiX(), 200.0f, 0.1f);
    int differing = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) differing += back->Pixel(x, y) != p.Pixel(x, y);
    EXPECT_EQ(differing, 0);

    EXPECT_TRUE(DecodePictureFile(path, 64 * 48).has_value());
    EXPECT_FALSE(DecodePictureFile(path, 64 * 48 - 1).has_value());
}

TEST(DecodePictureFile, ReadsEveryFormatWeWrite) {
    QTemporaryDir dir;
    const Picture p = MakeTestPicture(90, 60);
    std::vector<std::pair<ImageEncoderId, const char*>> formats = {{ImageEncoderId::Jpeg, "a.jpg"},
                                                                   {ImageEncoderId::Gif, "a.gif"},
                                                                   {ImageEncoderId::Bmp, "a.bmp"}};
    ImageEncoderId webp{};
    if (FindImageEncoder(QStringLiteral("image/webp"), &webp) >= 0)
        formats.push_back({webp, "a.webp"});
    for (auto [id, name] : formats) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_EQ(WritePicture(p, path, id, 90), Status::Ok);
        const std::optional<Picture> back = DecodePictureFile(path);
        ASSERT_TRUE(back.has_value()) << name;
        EXPECT_EQ(back->Width(), 90);
        EXPECT_EQ(back->Pixel(10, 10) >> 24, 0xFFu) << name;
    }
}

}  // namespace
