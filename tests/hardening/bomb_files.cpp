#include "bomb_files.h"

#include <QBuffer>
#include <QImageWriter>

#include <zlib.h>

namespace {

void AppendBigEndian(QByteArray& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.append(static_cast<char>((v >> shift) & 0xFF));
}
void AppendLittleEndian(QByteArray& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void AppendPngChunk(QByteArray& png, const char* type, const QByteArray& data) {
    AppendBigEndian(png, static_cast<uint32_t>(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    png += body;
    AppendBigEndian(png,
                    static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.constData()),
                                                static_cast<uInt>(body.size()))));
}

// The PNG signature and an IHDR chunk for an RGBA picture of `bits` bits a channel.
QByteArray PngSignatureAndHeader(uint32_t width, uint32_t height, char bits) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr;
    AppendBigEndian(ihdr, width);
    AppendBigEndian(ihdr, height);
    ihdr.append(bits);
    ihdr.append("\x06\x00\x00\x00", 4);  // RGBA, deflate, adaptive filters, not interlaced
    AppendPngChunk(png, "IHDR", ihdr);
    return png;
}

}  // namespace

// Declares width x height RGBA, then carries one deflated row of zeros: the rest of the
// picture is missing, as in a bomb that hopes the reader allocates first.
QByteArray PngDeclaring(uint32_t width, uint32_t height) {
    QByteArray png = PngSignatureAndHeader(width, height, 8);
    auto chunk = [&png](const char* type, const QByteArray& data) {
        AppendPngChunk(png, type, data);
    };
    // A deflate stream of 64 KiB of zeros: small on disk, large once inflated.
    QByteArray zeros(65536, '\0');
    uLongf packedSize = compressBound(static_cast<uLong>(zeros.size()));
    QByteArray packed(static_cast<qsizetype>(packedSize), '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
              reinterpret_cast<const Bytef*>(zeros.constData()), static_cast<uLong>(zeros.size()),
              9);
    packed.resize(static_cast<qsizetype>(packedSize));
    chunk("IDAT", packed);
    chunk("IEND", QByteArray());
    return png;
}

// A two-colour GIF whose screen and single frame have the given sizes, with a three-code
// LZW stream (clear, one pixel, end).
QByteArray GifDeclaring(uint16_t screenW, uint16_t screenH, uint16_t frameW, uint16_t frameH) {
    QByteArray gif("GIF89a");
    AppendLittleEndian(gif, screenW, 2);
    AppendLittleEndian(gif, screenH, 2);
    gif.append("\x80\x00\x00", 3);  // global colour table of 2 entries
    gif.append("\x00\x00\x00\xff\xff\xff", 6);
    gif.append('\x2c');
    AppendLittleEndian(gif, 0, 4);  // left, top
    AppendLittleEndian(gif, frameW, 2);
    AppendLittleEndian(gif, frameH, 2);
    gif.append("\x00\x02\x02\x44\x01\x00\x3b", 7);  // no local table; LZW data; trailer
    return gif;
}

QByteArray EncodeImage(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) return QByteArray();
    return bytes;
}

// A real 8 x 8 JPEG whose frame header is rewritten to declare width x height.
QByteArray JpegDeclaring(uint16_t width, uint16_t height) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(0xff336699);
    QByteArray jpeg = EncodeImage(image, "jpeg");
    if (jpeg.isEmpty()) return jpeg;
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    if (sof <= 0) return QByteArray();
    // FF C0, length (2), precision (1), height (2), width (2).
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

// A 24-bit BMP whose info header declares width x height (height negative: top-down).
QByteArray BmpDeclaring(int32_t width, int32_t height) {
    QByteArray bmp("BM");
    AppendLittleEndian(bmp, 14 + 40 + 16, 4);
    AppendLittleEndian(bmp, 0, 4);
    AppendLittleEndian(bmp, 14 + 40, 4);
    AppendLittleEndian(bmp, 40, 4);
    AppendLittleEndian(bmp, static_cast<uint32_t>(width), 4);
    AppendLittleEndian(bmp, static_cast<uint32_t>(height), 4);
    AppendLittleEndian(bmp, 1, 2);
    AppendLittleEndian(bmp, 24, 2);
    AppendLittleEndian(bmp, 0, 4);  // BI_RGB
    AppendLittleEndian(bmp, 0, 4);
    AppendLittleEndian(bmp, 2835, 4);
    AppendLittleEndian(bmp, 2835, 4);
    AppendLittleEndian(bmp, 0, 4);
    AppendLittleEndian(bmp, 0, 4);
    bmp.append(QByteArray(16, '\x7f'));
    return bmp;
}

// Fuzzer finds: an icns container whose table of contents lists one entry, followed by a
// small real icon. The listed length is taken at its word by Qt's reader, which reserves it.
static QByteArray IcnsWithTocEntry(const char* entryHex) {
    return QByteArray::fromHex(
        QByteArray("69636e7300000094544f432000000010") + entryHex +
        "0000007c89504e470d0a1a0a"
        "0000000d49484452000000100000001008060000001ff3ff61000000097048597300000f6100000f"
        "6101a83fa7690000002649444154388d636460f8ff5f85e1d11b72310b8311c31b0606f2f1a801a3"
        "068c1a30580c00002c20ff982d1b74f10000000049454e44ae426082");
}

QByteArray IcnsClaimingHugeEntry() {
    return IcnsWithTocEntry("6963703450340afd80aa8434");
}
QByteArray IcnsWithZeroLengthEntry() {
    return IcnsWithTocEntry("696370340000000000637034");
}

namespace {

// Deflates `total` bytes made of `head`, then `fill` repeated, then `tail`, in a gzip wrapper
// (windowBits 31) or a zlib one, without ever holding the inflated bytes.
QByteArray DeflateStream(const QByteArray& head, char fill, qint64 total, const QByteArray& tail,
                         bool gzip, int level = 9) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, gzip ? 31 : 15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out;
    char buffer[1 << 16];
    auto feed = [&](const QByteArray& bytes, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        z.avail_in = static_cast<uInt>(bytes.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, static_cast<qsizetype>(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    const QByteArray block(1 << 20, fill);
    for (qint64 left = total - head.size() - tail.size(); left > 0; left -= block.size())
        feed(left >= block.size() ? block : block.left(left), Z_NO_FLUSH);
    feed(tail, Z_FINISH);
    deflateEnd(&z);
    return out;
}

}  // namespace

QByteArray SvgzInflatingTo(qint64 bytes) {
    return DeflateStream(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\"><!--", ' ', bytes,
        "--><rect width=\"64\" height=\"64\" fill=\"#00ff00\"/></svg>\n", true);
}

QByteArray SvgDeclaring(int width, int height) {
    return QStringLiteral(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\">"
               "<rect width=\"100%\" height=\"100%\" fill=\"#0000ff\"/></svg>\n")
        .arg(width)
        .arg(height)
        .toLatin1();
}

QByteArray SvgLinking(const QByteArray& href) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "width=\"32\" height=\"16\"><rect width=\"32\" height=\"16\" fill=\"#ff0000\"/>"
           "<image x=\"0\" y=\"0\" width=\"16\" height=\"16\" xlink:href=\"" +
           href + "\"/><image x=\"16\" y=\"0\" width=\"16\" height=\"16\" href=\"" + href +
           "\"/></svg>\n";
}

QByteArray XbmDeclaring(int width, int height) {
    return QStringLiteral(
               "#define b_width %1\n#define b_height %2\nstatic char b_bits[] = {\n0x00,0x00 };\n")
        .arg(width)
        .arg(height)
        .toLatin1();
}

QByteArray TgaDeclaring(uint16_t width, uint16_t height, bool runLength) {
    QByteArray tga;
    tga.append('\0');                         // no image id
    tga.append('\0');                         // no colour map
    tga.append(runLength ? '\x0a' : '\x02');  // true colour, run-length coded or not
    tga.append(QByteArray(5, '\0'));          // colour map spec
    AppendLittleEndian(tga, 0, 4);            // origin
    AppendLittleEndian(tga, width, 2);
    AppendLittleEndian(tga, height, 2);
    tga.append('\x18');  // 24 bits a pixel
    tga.append('\0');    // bottom-up
    // Two pixels, then nothing but the version 2 footer Qt's reader looks for: 50 bytes.
    tga.append(runLength ? QByteArray("\x81\x00\xff\x00", 4)
                         : QByteArray("\x00\x00\xff\x00\xff\x00", 6));
    tga.append(QByteArray(8, '\0'));
    tga.append(QByteArray("TRUEVISION-XFILE.", 18));
    return tga;
}

QByteArray Png16Zeros(uint32_t width, uint32_t height) {
    QByteArray png = PngSignatureAndHeader(width, height, 16);
    auto chunk = [&png](const char* type, const QByteArray& data) {
        AppendPngChunk(png, type, data);
    };
    // Every row: filter 0 and zeros, all of them present.
    chunk("IDAT", DeflateStream(QByteArray(), '\0', qint64{height} * (1 + qint64{width} * 8),
                                QByteArray(), false, 1));
    chunk("IEND", QByteArray());
    return png;
}
