// Writes the committed seed corpus of the fuzz targets: tiny pictures in every format Qt
// reads (and the four our writer makes), and byte strings that the structured targets decode
// into typical settings records and drawing programs.
//   fuzz_make_seeds <fuzz/seeds folder>
// The structured seeds mirror the order in which the targets consume their input: integers
// are taken from the end of the input, most significant byte first.
#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bomb_files.h"
#include "image_settings.h"
#include "picture_image.h"
#include "picture_writer.h"

namespace {

QString g_root;

void Save(const QString& target, const QString& name, const QByteArray& bytes) {
    QDir().mkpath(g_root + "/" + target);
    QFile file(g_root + "/" + target + "/" + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

// Builds an input for a FuzzedDataProvider-driven target, in consumption order.
class InputWriter {
public:
    // A value the target reads with ConsumeIntegralInRange(lo, hi).
    void Range(int64_t lo, int64_t hi, int64_t value) {
        const uint64_t range = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
        const uint64_t raw = static_cast<uint64_t>(value) - static_cast<uint64_t>(lo);
        int bytes = 0;
        for (uint64_t r = range; r > 0 && bytes < 8; r >>= 8) ++bytes;
        for (int i = bytes - 1; i >= 0; --i) m_tail.push_back(static_cast<char>(raw >> (8 * i)));
    }
    void Int32(int32_t v) {
        Range(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v);
    }
    void Uint32(uint32_t v) { Range(0, std::numeric_limits<uint32_t>::max(), v); }
    void Uint16(uint16_t v) { Range(0, 0xFFFF, v); }
    void Bool(bool v) { Range(0, 255, v ? 1 : 0); }
    // Bytes the target takes from the front (ConsumeBytes, ConsumeProbability's source...).
    void Front(const QByteArray& bytes) { m_front += bytes; }

    QByteArray Bytes() const {
        QByteArray out = m_front;
        for (auto it = m_tail.rbegin(); it != m_tail.rend(); ++it) out.push_back(*it);
        return out;
    }

private:
    QByteArray m_front;
    std::vector<char> m_tail;
};

// ---- background pictures -------------------------------------------------------------

QImage SampleImage(QImage::Format format, int w = 7, int h = 5) {
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 36, y * 50, 255 - x * 30, 255 - (x + y) * 20));
    return image.convertToFormat(format);
}

QByteArray Encode(const QImage& image, const char* format, int quality = -1,
                  bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0) writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot encode %s: %s\n", format, qPrintable(writer.errorString()));
        std::exit(1);
    }
    return bytes;
}

QByteArray OurEncoding(ImageEncoderId id) {
    QImage sample = SampleImage(QImage::Format_ARGB32);
    std::optional<Picture> picture = PictureFromImage(sample);
    const QString path =
        QDir::tempPath() + "/facetta_seed_" + QString::number(static_cast<int>(id));
    int err = 0;
    if (!picture || WritePicture(*picture, path, id, 80, &err) != Status::Ok) {
        std::fprintf(stderr, "cannot write seed %d (%d)\n", static_cast<int>(id), err);
        std::exit(1);
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QByteArray bytes = file.readAll();
    file.remove();
    return bytes;
}

void DecodeSeeds() {
    const QString t = "fuzz_decode";
    Save(t, "png_argb.png", Encode(SampleImage(QImage::Format_ARGB32), "png"));
    Save(t, "png_rgb.png", Encode(SampleImage(QImage::Format_RGB32), "png"));
    Save(t, "png_indexed.png", Encode(SampleImage(QImage::Format_Indexed8), "png"));
    Save(t, "png_gray16.png", Encode(SampleImage(QImage::Format_Grayscale16), "png"));
    Save(t, "png_rgba64.png", Encode(SampleImage(QImage::Format_RGBA64), "png"));
    Save(t, "png_mono.png", Encode(SampleImage(QImage::Format_Mono), "png"));
    Save(t, "jpeg.jpg", Encode(SampleImage(QImage::Format_RGB32, 9, 9), "jpeg", 50));
    Save(t, "jpeg_progressive.jpg",
         Encode(SampleImage(QImage::Format_RGB32, 17, 9), "jpeg", 30, true));
    Save(t, "jpeg_gray.jpg", Encode(SampleImage(QImage::Format_Grayscale8), "jpeg", 40));
    Save(t, "bmp_rgb.bmp", Encode(SampleImage(QImage::Format_RGB32), "bmp"));
    Save(t, "bmp_indexed.bmp", Encode(SampleImage(QImage::Format_Indexed8), "bmp"));
    Save(t, "bmp_mono.bmp", Encode(SampleImage(QImage::Format_Mono), "bmp"));
    Save(t, "ppm.ppm", Encode(SampleImage(QImage::Format_RGB32, 3, 2), "ppm"));
    Save(t, "pgm.pgm", Encode(SampleImage(QImage::Format_Grayscale8, 3, 2), "pgm"));
    Save(t, "pbm.pbm", Encode(SampleImage(QImage::Format_Mono, 9, 2), "pbm"));
    Save(t, "ppm_ascii.ppm", QByteArray("P3\n2 2\n255\n255 0 0  0 255 0\n0 0 255  9 9 9\n"));
    Save(t, "xbm.xbm", Encode(SampleImage(QImage::Format_Mono, 9, 3), "xbm"));
    Save(t, "xpm.xpm", Encode(SampleImage(QImage::Format_Indexed8, 3, 2), "xpm"));
    Save(t, "ico.ico", Encode(SampleImage(QImage::Format_ARGB32, 4, 4), "ico"));
    Save(t, "cur.cur", Encode(SampleImage(QImage::Format_ARGB32, 4, 4), "cur"));
    Save(t, "icns.icns", Encode(SampleImage(QImage::Format_ARGB32, 16, 16), "icns"));
    Save(t, "tiff.tif", Encode(SampleImage(QImage::Format_ARGB32, 4, 3), "tiff"));
    Save(t, "wbmp.wbmp", Encode(SampleImage(QImage::Format_Mono, 9, 3), "wbmp"));
    Save(t, "webp.webp", Encode(SampleImage(QImage::Format_ARGB32, 4, 3), "webp", 50));
    Save(t, "svg.svg",
         QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='6' height='4'>"
                    "<polygon points='0,0 6,0 3,4' fill='#2a9'/></svg>"));
    // Uncompressed 24-bit Targa, 2 x 1, bottom-up, with the version 2 footer Qt looks for.
    Save(t, "tga.tga",
         QByteArray::fromHex("000002000000000000000000020001001800"
                             "0000ff00ff00") +
             QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18));
    // Hostile pictures: each is refused or decoded reduced, none may hang the reader.
    Save(t, "bomb_svgz_inflates_40_mib.svgz", SvgzInflatingTo(qint64{40} << 20));
    Save(t, "svgz_small.svgz", SvgzInflatingTo(300));
    Save(t, "svg_links_stdin.svg", SvgLinking("/dev/stdin"));
    Save(t, "svg_links_tty.svg", SvgLinking("file:///dev/tty"));
    Save(t, "svg_embeds_png.svg",
         SvgLinking("data:image/png;base64," +
                    Encode(SampleImage(QImage::Format_ARGB32, 2, 2), "png").toBase64()));
    Save(t, "bomb_svg_declares_16384.svg", SvgDeclaring(16384, 16384));
    Save(t, "bomb_xbm_declares_16384.xbm", XbmDeclaring(16384, 16384));
    Save(t, "bomb_jpeg_declares_16384.jpg", JpegDeclaring(16384, 16384));
    Save(t, "bomb_tga_declares_8192.tga", TgaDeclaring(8192, 8192, false));
    Save(t, "bomb_tga_rle_declares_4096.tga", TgaDeclaring(4096, 4096, true));
    Save(t, "bomb_png_declares_16384.png", PngDeclaring(16384, 16384));
    Save(t, "ours.png", OurEncoding(ImageEncoderId::Png));
    Save(t, "ours.gif", OurEncoding(ImageEncoderId::Gif));
    Save(t, "ours.bmp", OurEncoding(ImageEncoderId::Bmp));
    Save(t, "ours.jpg", OurEncoding(ImageEncoderId::Jpeg));
}

// ---- settings records ----------------------------------------------------------------

struct Record {
    int32_t width = 1920, height = 1080, resolution = 120, quality = 100, mode = 0;
    uint32_t back = 0x003EDAFE, grad1 = 0x003EDAFE, grad2 = 0x00E0A92A;
    int32_t polySize = 0;
    uint32_t poly = 0;
    int32_t start = 2, end = 25;
    uint32_t line = 0x00FFFFFF;
    int32_t lineOpacity = 0;
    std::u16string path;
    uint32_t seed = 1;
    int backW = 0, backH = 0;  // 0: no background picture
};

QByteArray MeshRenderInput(const Record& r) {
    InputWriter in;
    in.Int32(r.width);
    in.Int32(r.height);
    in.Int32(r.resolution);
    in.Int32(r.quality);
    in.Int32(r.mode);
    in.Uint32(r.back);
    in.Uint32(r.grad1);
    in.Uint32(r.grad2);
    in.Int32(r.polySize);
    in.Uint32(r.poly);
    in.Int32(r.start);
    in.Int32(r.end);
    in.Uint32(r.line);
    in.Int32(r.lineOpacity);
    in.Range(0, kBackImagePathLength - 1, static_cast<int64_t>(r.path.size()));
    for (char16_t c : r.path) in.Uint16(c);
    in.Uint32(r.seed);
    in.Bool(r.backW > 0);
    if (r.backW > 0) {
        in.Range(1, 48, r.backW);
        in.Range(1, 48, r.backH);
        for (int i = 0; i < r.backW * r.backH; ++i)
            in.Uint32(0x80FF0000u + static_cast<uint32_t>(i) * 0x0102);
    }
    return in.Bytes();
}

void MeshRenderSeeds() {
    const QString t = "fuzz_mesh_render";
    // The renderer's own size cap in the target keeps these small; the default size is
    // folded into a smaller picture with the same shape of record.
    Record small;
    small.width = 300;
    small.height = 200;
    Save(t, "small_auto", MeshRenderInput(small));
    Record gradients = small;
    for (int mode = 1; mode <= 7; ++mode) {  // the gradients, then the transparent background
        gradients.mode = mode;
        gradients.seed = static_cast<uint32_t>(mode);
        Save(t, QString("mode_%1").arg(mode), MeshRenderInput(gradients));
    }
    Record outlined = small;
    outlined.polySize = 50;
    outlined.lineOpacity = 100;
    outlined.start = 60;
    outlined.end = 10;
    Save(t, "outlined_cells50", MeshRenderInput(outlined));
    Record photo = small;
    photo.backW = 10;
    photo.backH = 5;
    photo.path = u"/tmp/背景.png";
    Save(t, "background_picture", MeshRenderInput(photo));
    Record odd = small;
    odd.start = 150;
    odd.end = -10;
    odd.lineOpacity = 150;
    odd.mode = 99;
    Save(t, "odd_opacities", MeshRenderInput(odd));
    Record huge = small;
    huge.width = std::numeric_limits<int32_t>::max();
    huge.height = std::numeric_limits<int32_t>::max();
    huge.polySize = std::numeric_limits<int32_t>::max();
    Save(t, "huge_size", MeshRenderInput(huge));
    Record negative = small;
    negative.width = -500;
    negative.polySize = -3;
    Save(t, "negative", MeshRenderInput(negative));
    Record defaults;  // 1920 x 1080, folded by the target
    Save(t, "defaults", MeshRenderInput(defaults));
}

// ---- drawing programs for the rasterizer ---------------------------------------------

// Coordinates in the target's small-range form (choice 0: -8..72).
void Coord(InputWriter& in, int32_t v) {
    in.Range(0, 3, 0);
    in.Range(-8, 72, v);
}
void BigCoord(InputWriter& in, int32_t v) {
    in.Range(0, 3, 2);
    in.Int32(v);
}
void Real(InputWriter& in, int v, int quarters = 0) {
    in.Range(0, 5, 5);
    in.Range(-8, 72, v);
    in.Range(0, 3, quarters);
}

void Target(InputWriter& in, int w, int h, uint32_t fill) {
    in.Range(0, 40, w);
    in.Range(0, 40, h);
    in.Uint32(fill);
}

void RasterSeeds() {
    const QString t = "fuzz_raster";
    {
        InputWriter in;  // what the renderer does: fill, shade, triangles, outlines
        Target(in, 40, 30, 0xFF3EDAFE);
        in.Range(0, 4, 0);
        Coord(in, 0), Coord(in, 0), Coord(in, 40), Coord(in, 30);
        in.Uint32(0xFF2AA9E0);
        in.Range(0, 4, 1);
        Coord(in, 0), Coord(in, 0), Coord(in, 40), Coord(in, 30);
        Real(in, 0), Real(in, 0), Real(in, 20), Real(in, 0);
        in.Uint32(0x78000000), in.Uint32(0x00000000);
        for (int i = 0; i < 2; ++i) {
            in.Range(0, 4, 2 + i);
            in.Bool(i == 0), in.Bool(true);
            in.Uint32(0x3F000000);
            in.Range(0, 12, 3);
            Coord(in, -3), Coord(in, 2), Coord(in, 37), Coord(in, 11), Coord(in, 12), Coord(in, 33);
        }
        Save(t, "renderer_like", in.Bytes());
    }
    {
        InputWriter in;  // extreme coordinates and a self-intersecting shape
        Target(in, 16, 16, 0xFF000000);
        in.Range(0, 4, 2);
        in.Bool(true), in.Bool(true);
        in.Uint32(0x80FFFFFF);
        in.Range(0, 12, 5);
        BigCoord(in, std::numeric_limits<int32_t>::min()), Coord(in, 3);
        BigCoord(in, std::numeric_limits<int32_t>::max()), Coord(in, 9);
        Coord(in, 4), BigCoord(in, std::numeric_limits<int32_t>::max());
        Coord(in, 8), Coord(in, 8);
        Coord(in, 8), Coord(in, 8);
        Save(t, "extremes", in.Bytes());
    }
    {
        InputWriter in;  // scaled picture draws: enlarged and reduced
        Target(in, 20, 20, 0xFFFFFFFF);
        for (int k = 0; k < 2; ++k) {
            in.Range(0, 4, 4);
            in.Range(0, 24, k ? 24 : 3);
            in.Range(0, 24, k ? 17 : 2);
            in.Uint32(0x80102030);
            Coord(in, 0), Coord(in, 0), Coord(in, k ? 24 : 3), Coord(in, k ? 17 : 2);
            Real(in, k ? 2 : -1, 1), Real(in, 1), Real(in, k ? 5 : 30, 2), Real(in, k ? 7 : 25);
            in.Bool(true);
            in.Uint32(0xC0000000u);  // opacity 0.75
        }
        Save(t, "scaled_draws", in.Bytes());
    }
}

// ---- command lines, typed values, clipboard paths ----------------------------------

void CliSeeds() {
    const QString t = "fuzz_cli_options";
    const char* const lines[][2] = {
        {"defaults", ""},
        {"help", "--help"},
        {"version", "-v"},
        {"sizes", "--width\n5000\n--height\n300\n--mode\nleft-right\n-o\n/tmp/x.JPG"},
        {"colours", "--back-color\n#ff00AA\n--grad-color1\n00ff00\n--poly-color=123456\n--mode=6"},
        {"numbered", "--seed\n4294967295\n--count\n3\n-o\na.b/c"},
        {"clamped", "--width=-5\n--quality\n1000\n--resolution\n0\n--height\n2147483647"},
        {"back_image", "--back-image\n/tmp/背景 picture.png\n-o\nout.jpeg"},
        {"mesh_json", "--mesh-json\n--poly-size\n50\n--seed\n7"},
        {"opacities",
         "--start-opacity\n150\n--end-opacity\n-10\n--line-opacity\n40\n--line-color\nffffff"},
        {"bad_number", "--width\n99999999999"},
        {"stray", "picture.png"},
        {"recipe",
         "facetta-cli --width 640 --height 360 --mode 3 --back-color 0A0B0C --back-image "
         "'/tmp/it'\\''s \"here\"' --line-opacity 40 --seed 77"},
        {"recipe_shell", "./facetta-cli \\\n --seed=5 \"--mode\" 6; rm -rf ~ $(id) `x` | y > z"},
    };
    for (const auto& l : lines) Save(t, l[0], QByteArray(l[1]));
}

void TypedValueSeeds() {
    const QString t = "fuzz_typed_value";
    const struct {
        const char* name;
        int32_t number;
        uint32_t color;
        const char* text;
    } cases[] = {
        {"digits_then_letters", 1920, 0x003EDAFE, "  1234abc"},
        {"below_range", -2147483647 - 1, 0x00FFFFFF, "-2147483649"},
        {"plus_sign", 42, 0, "+0042"},
        {"colour", 0x7FFFFFFF, 0x000080FF, "ff8000"},
        {"short_colour", -1, 0x00123456, "abc"},
        {"letters", 0, 0, "zz"},
        {"wide_digits", 5, 1, "１２３"},
        {"control_blanks", -7, 2, "\t\v-7"},
    };
    for (const auto& c : cases) {
        InputWriter in;
        in.Int32(c.number);
        in.Uint32(c.color);
        in.Bool(false);
        in.Front(QByteArray(c.text));
        Save(t, c.name, in.Bytes());
    }
    InputWriter utf16;  // a lone surrogate among digits
    utf16.Int32(3);
    utf16.Uint32(3);
    utf16.Bool(true);
    for (char16_t u : {u'1', u'2', char16_t(0xD800), u'3'}) utf16.Uint16(u);
    Save(t, "utf16_surrogate", utf16.Bytes());
}

void ClipboardSeeds() {
    const QString t = "fuzz_clipboard";
    const struct {
        const char* name;
        int mode;
        const char* path;  // as ConsumeRandomLengthString reads it: "\\\\" is one backslash
    } paths[] = {
        {"posix_tricky", 6, "tmp/背景 #1/a\"b<c>&d%e?.png"},
        {"windows", 4, "C:\\\\Users\\\\张三\\\\AppData\\\\Local\\\\Temp\\\\"},
        {"relative", 5, "pics/x.png"},
    };
    for (const auto& p : paths) {
        InputWriter in;
        in.Range(0, 7, p.mode);
        in.Range(INT64_MIN, INT64_MAX, 4321);
        in.Int32(1);
        in.Front(QByteArray(p.path));
        Save(t, p.name, in.Bytes());
    }
    InputWriter units;
    units.Range(0, 7, 1);
    units.Range(INT64_MIN, INT64_MAX, -1);
    units.Int32(2147483647);
    for (char16_t u : {u'/', u't', char16_t(0xDC00), u'"', u'/', char16_t(0x7F)}) units.Uint16(u);
    Save(t, "utf16_units", units.Bytes());
    InputWriter copy;
    copy.Range(0, 7, 0);
    copy.Range(0, 12, 3);
    copy.Range(0, 12, 2);
    for (uint32_t i = 0; i < 6; ++i) copy.Uint32(0x10FF8040u * (i + 1));
    copy.Range(INT64_MIN, INT64_MAX, 4321);
    copy.Bool(true);
    copy.Range(0, 2, 1);
    Save(t, "copy_record_near_counter_limit", copy.Bytes());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seeds folder>\n", argv[0]);
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    DecodeSeeds();
    MeshRenderSeeds();
    RasterSeeds();
    CliSeeds();
    TypedValueSeeds();
    ClipboardSeeds();
    return 0;
}
