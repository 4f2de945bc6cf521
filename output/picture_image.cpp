#include "picture_image.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr double kMetresPerInch = 0.0254;

int DotsPerMeter(float dpi) {
    return static_cast<int>(std::lround(dpi / kMetresPerInch));
}

void SetImageResolution(QImage& image, const Picture& picture) {
    image.setDotsPerMeterX(DotsPerMeter(picture.DpiX()));
    image.setDotsPerMeterY(DotsPerMeter(picture.DpiY()));
}

}  // namespace

QImage PictureAsImage(Picture& picture) {
    if (picture.IsNull()) return QImage();
    QImage image(reinterpret_cast<uchar*>(picture.Pixels()), picture.Width(), picture.Height(),
                 static_cast<qsizetype>(picture.Width()) * 4, QImage::Format_ARGB32);
    SetImageResolution(image, picture);
    return image;
}

QImage PictureAsImage(const Picture& picture) {
    if (picture.IsNull()) return QImage();
    QImage image(reinterpret_cast<const uchar*>(picture.Pixels()), picture.Width(),
                 picture.Height(), static_cast<qsizetype>(picture.Width()) * 4,
                 QImage::Format_ARGB32);
    SetImageResolution(image, picture);
    return image;
}

std::optional<Picture> PictureFromImage(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    QImage argb = image.format() == QImage::Format_ARGB32
                      ? image
                      : image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) return std::nullopt;
    Picture picture = Picture::Create(argb.width(), argb.height());
    if (picture.IsNull()) return std::nullopt;
    const size_t rowBytes = static_cast<size_t>(argb.width()) * 4;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(picture.Row(y), argb.constScanLine(y), rowBytes);
    if (argb.dotsPerMeterX() > 0 && argb.dotsPerMeterY() > 0) {
        picture.SetResolution(static_cast<float>(argb.dotsPerMeterX() * kMetresPerInch),
                              static_cast<float>(argb.dotsPerMeterY() * kMetresPerInch));
    }
    return picture;
}

namespace {

// The file named by `path`, opened only when it is a regular file: opening a pipe or a terminal
// would wait for a writer, a device could stream without end. Opened first and checked after,
// so that nothing can be swapped in between.
bool OpenRegularFile(const QString& path, QFile& file) {
#if defined(_WIN32)
    if (!QFileInfo(path).isFile()) return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
#else
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    return file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
#endif
}

// The most pixels any valid file of the format can describe per byte of file, where the format
// has such a bound (run-length or deflate coding at best); 0 where it has none we rely on.
// A file declaring more cannot hold its pixels: its reader would only spin through missing
// data (a 50-byte TGA declaring 2^28 pixels reads for many seconds).
int64_t MaxPixelsPerByte(const QByteArray& format) {
    if (format == "pbm" || format == "pgm" || format == "ppm" || format == "xbm" ||
        format == "xpm" || format == "wbmp")
        return 8;                                        // one bit a pixel at best
    if (format == "bmp" || format == "tga") return 128;  // a run of up to 255 pixels in two bytes
    if (format == "gif") return 4096;                    // a 12-bit code for up to 4096 pixels
    if (format == "png" || format == "ico" || format == "cur")
        return 8 * 1032;  // deflate inflates at most 1032-fold; one bit a pixel
    return 0;
}

bool StartsWithGzip(const QByteArray& head) {
    return head.size() >= 2 && static_cast<uint8_t>(head[0]) == 0x1F &&
           static_cast<uint8_t>(head[1]) == 0x8B;
}

// A gzip stream inflated to at most `cap` bytes; empty when it is broken or inflates further.
QByteArray InflateCapped(QIODevice& in, int64_t cap) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return {};
    QByteArray out;
    QByteArray chunk;
    char buffer[64 * 1024];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            chunk = in.read(256 * 1024);
            if (chunk.isEmpty()) break;
            z.next_in = reinterpret_cast<Bytef*>(chunk.data());
            z.avail_in = static_cast<uInt>(chunk.size());
        }
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        const qsizetype produced = static_cast<qsizetype>(sizeof buffer - z.avail_out);
        if (out.size() + produced > cap) {
            rc = Z_MEM_ERROR;
            break;
        }
        out.append(buffer, produced);
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : QByteArray();
}

bool IsExternalLink(QStringView value) {
    const QStringView v = value.trimmed();
    return !(v.startsWith(u'#') || v.startsWith(u"data:", Qt::CaseInsensitive));
}

// The SVG once more with every link to something outside it dropped (the SVG reader would open
// such files itself, whatever they are); links inside the document and embedded data: pictures
// stay. Entities are expanded by the XML reader, within its own expansion limit. Empty when
// the XML is broken.
QByteArray WithoutOutsideLinks(const QByteArray& svg) {
    QXmlStreamReader reader(svg);
    reader.setNamespaceProcessing(false);
    QByteArray out;
    QXmlStreamWriter writer(&out);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement: {
                const QXmlStreamAttributes attributes = reader.attributes();
                auto isOutsideLink = [](const QXmlStreamAttribute& a) {
                    const QStringView name = a.qualifiedName();
                    return (name == u"href" || name.endsWith(u":href")) &&
                           IsExternalLink(a.value());
                };
                const QStringView element = reader.qualifiedName();
                if ((element == u"image" || element.endsWith(u":image")) &&
                    std::any_of(attributes.begin(), attributes.end(), isOutsideLink)) {
                    reader.skipCurrentElement();  // a picture from elsewhere: left out whole
                    break;
                }
                writer.writeStartElement(element.toString());
                for (const QXmlStreamAttribute& a : attributes)
                    if (!isOutsideLink(a))
                        writer.writeAttribute(a.qualifiedName().toString(), a.value().toString());
                break;
            }
            case QXmlStreamReader::EndElement:
            case QXmlStreamReader::Characters:
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::StartDocument:
            case QXmlStreamReader::EndDocument:
                writer.writeCurrentToken(reader);
                break;
            default:  // the DTD (its entities are expanded already), processing instructions
                break;
        }
    }
    if (reader.hasError()) return {};
    return out;
}

// What a JPEG's frame header says about how it is coded.
struct JpegFrame {
    bool found = false;
    bool progressive = false;  // its reader then keeps every coefficient of the full-size picture
    bool arithmetic = false;
    int components = 3;
};

JpegFrame ReadJpegFrame(QIODevice& file) {
    JpegFrame frame;
    const qint64 start = file.pos();
    if (file.seek(0) && file.read(2) == QByteArray("\xFF\xD8", 2)) {
        for (int segment = 0; segment < 256; ++segment) {
            const QByteArray head = file.read(4);
            if (head.size() < 4 || static_cast<uint8_t>(head[0]) != 0xFF) break;
            const uint8_t type = static_cast<uint8_t>(head[1]);
            const int length = (static_cast<uint8_t>(head[2]) << 8) | static_cast<uint8_t>(head[3]);
            if (type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC) {
                const QByteArray sof = file.read(6);
                if (sof.size() == 6)
                    frame.components = std::max(1, static_cast<int>(static_cast<uint8_t>(sof[5])));
                frame.found = true;
                frame.progressive = type == 0xC2 || type == 0xC6 || type == 0xCA || type == 0xCE;
                frame.arithmetic = type >= 0xC9;
                break;
            }
            if (length < 2 || !file.seek(file.pos() + length - 2)) break;
        }
    }
    file.seek(start);
    return frame;
}

int BytesPerPixel(QImage::Format format) {
    if (format == QImage::Format_Invalid) return 4;
    return std::max(1, (QImage::toPixelFormat(format).bitsPerPixel() + 7) / 8);
}

// The size the cover rule draws a width x height picture at in a frame, when that is smaller
// than the picture; the picture's own size otherwise.
QSize CoverSize(QSize picture, int frameWidth, int frameHeight) {
    if (frameWidth <= 0 || frameHeight <= 0 || picture.isEmpty()) return picture;
    const double s = std::max(static_cast<double>(frameWidth) / picture.width(),
                              static_cast<double>(frameHeight) / picture.height());
    if (s >= 1.0) return picture;
    return QSize(
        std::clamp(static_cast<int>(std::ceil(picture.width() * s)), 1, picture.width()),
        std::clamp(static_cast<int>(std::ceil(picture.height() * s)), 1, picture.height()));
}

// `size` shrunk, aspect kept, to at most maxPixels.
QSize WithinPixels(QSize size, int64_t maxPixels) {
    const int64_t pixels = static_cast<int64_t>(size.width()) * size.height();
    if (pixels <= maxPixels) return size;
    const double f = std::sqrt(static_cast<double>(maxPixels) / static_cast<double>(pixels));
    return QSize(std::max(1, static_cast<int>(size.width() * f)),
                 std::max(1, static_cast<int>(size.height() * f)));
}

int64_t Pixels(QSize s) {
    return static_cast<int64_t>(s.width()) * s.height();
}

DecodedPicture Refused(DecodeError error) {
    DecodedPicture d;
    d.error = error;
    return d;
}

DecodedPicture DecodeWithReader(const QString& path, int frameWidth, int frameHeight,
                                int64_t maxPixels) {
    QFile file;
    if (!OpenRegularFile(path, file)) return Refused(DecodeError::NotAFile);
    const int64_t fileBytes = file.size();
    if (fileBytes <= 0) return Refused(DecodeError::NotDecodable);

    // SVG, compressed or not, is read here within a cap and handed on without outside links.
    QByteArray svg;
    QBuffer svgBuffer;
    const QByteArray head = file.peek(16);
    // The format the name says where its reader takes the content (as a reader given a path
    // decides), otherwise the content's. Probed within the same allocation limit as the read.
    QByteArray sniffed;
    if (StartsWithGzip(head)) {
        sniffed = "svgz";
    } else {
        auto probe = [&file](const QByteArray& format) {
            QImageReader reader(&file, format);
            reader.setAllocationLimit(static_cast<int>(kMaxDecodeBytes >> 20));
            QByteArray found = reader.canRead() ? reader.format() : QByteArray();
            return file.seek(0) ? found : QByteArray();
        };
        const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
        if (!suffix.isEmpty()) sniffed = probe(suffix);
        if (sniffed.isEmpty()) sniffed = probe(QByteArray());
        if (sniffed.isEmpty()) return Refused(DecodeError::NotDecodable);
    }
    if (sniffed == "svgz" || sniffed == "svg") {
        if (sniffed == "svg" && fileBytes > kMaxSvgBytes) return Refused(DecodeError::TooLarge);
        QByteArray raw = StartsWithGzip(head) ? InflateCapped(file, kMaxSvgBytes) : file.readAll();
        if (raw.isEmpty())
            return Refused(StartsWithGzip(head) ? DecodeError::TooLarge
                                                : DecodeError::NotDecodable);
        svg = WithoutOutsideLinks(raw);
        if (svg.isEmpty()) return Refused(DecodeError::NotDecodable);
        svgBuffer.setData(svg);
        svgBuffer.open(QIODevice::ReadOnly);
    }
    const bool isSvg = !svg.isEmpty();
    // Probing may leave the file elsewhere.
    if (!isSvg && !file.seek(0)) return Refused(DecodeError::NotDecodable);
    QImageReader reader;
    if (isSvg) {
        reader.setDevice(&svgBuffer);
        reader.setFormat("svg");
    } else {
        reader.setDevice(&file);
        reader.setFormat(sniffed);
    }
    // Decode what the file is, not what its rotation tag asks for.
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    const QByteArray format = reader.format();
    if (declared.isValid() && declared.isEmpty()) return Refused(DecodeError::NotDecodable);

    const bool isJpeg = format == "jpeg" || format == "jpg";
    const bool scalable = declared.isValid() && (isSvg || isJpeg);
    QSize target = declared;
    int64_t decodePixels = 0;  // what the reader itself holds
    int64_t extraBytes = 0;
    if (declared.isValid()) {
        if (const int64_t ratio = MaxPixelsPerByte(format);
            ratio > 0 && Pixels(declared) / ratio > fileBytes)
            return Refused(DecodeError::NotDecodable);
        target = CoverSize(declared, frameWidth, frameHeight);
        if (scalable) {
            // Within the pixels and, at 4 bytes a pixel thrice, the bytes allowed.
            target = WithinPixels(target, std::min(maxPixels, kMaxDecodeBytes / 12));
            // libjpeg scales by eighths at most; the rest is a smooth reduction after it.
            decodePixels =
                isJpeg ? std::max(Pixels(target), Pixels(declared) / 64) : Pixels(target);
            if (isJpeg) {
                const JpegFrame jpeg = ReadJpegFrame(file);
                // Huffman coding spends at least a bit on every 8 x 8 block of every component.
                if (jpeg.found && !jpeg.arithmetic && Pixels(declared) / 1024 > fileBytes)
                    return Refused(DecodeError::NotDecodable);
                if (jpeg.progressive) extraBytes = Pixels(declared) * 2 * jpeg.components;
            }
        } else {
            decodePixels = Pixels(declared);
        }
        if (std::max(decodePixels, Pixels(target)) > maxPixels)
            return Refused(DecodeError::TooLarge);
        if (!Picture::Fits(target.width(), target.height())) return Refused(DecodeError::TooLarge);
    }
    // The reader's picture, a converted copy, our picture.
    const int64_t cost = declared.isValid() ? decodePixels * BytesPerPixel(reader.imageFormat()) +
                                                  extraBytes + Pixels(target) * 8
                                            : 0;
    if (cost > kMaxDecodeBytes) return Refused(DecodeError::TooLarge);
    const MemoryCharge charge = MemoryCharge::Take(static_cast<size_t>(cost));
    if (cost > 0 && !charge.Held()) return Refused(DecodeError::TooLarge);
    if (scalable && target != declared) reader.setScaledSize(target);
    // Qt's own guard, for formats that cannot tell their size up front.
    reader.setAllocationLimit(static_cast<int>(kMaxDecodeBytes >> 20));

    QImage image;
    if (!reader.read(&image) || image.isNull()) return Refused(DecodeError::NotDecodable);
    if (Pixels(image.size()) > maxPixels) return Refused(DecodeError::TooLarge);
    // Formats that do not tell their size up front: the same test on what came out.
    if (const int64_t ratio = MaxPixelsPerByte(format);
        ratio > 0 && Pixels(image.size()) / ratio > fileBytes)
        return Refused(DecodeError::NotDecodable);
    DecodedPicture result;
    // Formats that cannot decode reduced are reduced now, before the picture is kept.
    const QSize keep = CoverSize(image.size(), frameWidth, frameHeight);
    if (keep != image.size())
        image = image.scaled(keep, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    result.reduced = declared.isValid() ? image.size() != declared : keep != image.size();
    if (image.format() != QImage::Format_ARGB32) {
        image.convertTo(QImage::Format_ARGB32);
        if (image.isNull()) return Refused(DecodeError::TooLarge);
    }
    result.picture = PictureFromImage(image);
    if (!result.picture) return Refused(DecodeError::TooLarge);
    return result;
}

}  // namespace

DecodedPicture DecodeBackgroundPicture(const QString& path, int frameWidth, int frameHeight,
                                       int64_t maxPixels) {
    if (path.isEmpty()) return Refused(DecodeError::NotAFile);
    if (maxPixels <= 0) return Refused(DecodeError::TooLarge);
    // A reader may ask for whatever a broken file claims (Qt's icns reader reserves an
    // entry's stated length, gigabytes from a file of a few bytes); where that memory cannot
    // be had, the file simply does not decode instead of ending the program.
    try {
        return DecodeWithReader(path, frameWidth, frameHeight, maxPixels);
    } catch (const std::bad_alloc&) {
        return Refused(DecodeError::TooLarge);
    }
}

std::optional<Picture> DecodePictureFile(const QString& path, int64_t maxPixels) {
    return std::move(DecodeBackgroundPicture(path, 0, 0, maxPixels).picture);
}
