#include "cli_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <array>

#include "random.h"

namespace {

const std::array<const char*, 8> kModeNames = {
    "solid",
    "left-right",
    "left-middle-right",
    "top-bottom",
    "top-middle-bottom",
    "topleft-bottomright",
    "bottomleft-topright",
    "transparent",
};

bool ParseInt(const QString& text, int32_t& out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (ok) out = v;
    return ok;
}

// RRGGBB, red first, optional leading '#'.
bool ParseColor(QString text, COLORREF& out) {
    text = text.trimmed();
    if (text.startsWith(QLatin1Char('#'))) text.remove(0, 1);
    if (text.size() != 6) return false;
    // ASCII only: Unicode digits of other scripts (full-width ones, say) would read as zero.
    for (QChar c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    const uint v = text.toUInt(nullptr, 16);
    out = RGBColor(static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                   static_cast<int>(v & 0xFF));
    return true;
}

bool ParseMode(const QString& text, int32_t& out) {
    int32_t n = 0;
    if (ParseInt(text, n)) {
        if (n < 0 || n >= static_cast<int32_t>(kModeNames.size())) return false;
        out = n;
        return true;
    }
    for (size_t i = 0; i < kModeNames.size(); ++i) {
        if (text.trimmed().compare(QLatin1String(kModeNames[i]), Qt::CaseInsensitive) == 0) {
            out = static_cast<int32_t>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

CliParse ParseCliArguments(const QStringList& arguments, CliOptions& o, QString& error,
                           QString& text) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes a low-poly picture and writes it to a file (JPG, PNG, GIF, BMP or SVG by the file "
        "name's extension; anything else is written as PNG with \".png\" appended).\n"
        "Colours are RRGGBB in hex, red first, with an optional leading #. Fields not given "
        "take the defaults; the two default colours are drawn from the seed, so the printed "
        "seed makes the same picture again."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    auto valueOption = [](const char* name, const char* description, const char* value) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                                  QString::fromLatin1(value));
    };
    const QCommandLineOption width =
        valueOption("width", "Picture width in pixels, 300 or more (default 1920).", "pixels");
    const QCommandLineOption height =
        valueOption("height", "Picture height in pixels, 200 or more (default 1080).", "pixels");
    const QCommandLineOption resolution = valueOption(
        "resolution", "Resolution recorded in the file, 72..300 dpi (default 120).", "dpi");
    const QCommandLineOption quality =
        valueOption("quality", "JPEG quality, 1..100 (default 100).", "1-100");
    const QCommandLineOption mode = valueOption(
        "mode",
        "Background: 0 solid, 1 left-right, 2 left-middle-right, 3 top-bottom, "
        "4 top-middle-bottom, 5 topleft-bottomright, 6 bottomleft-topright, 7 transparent; "
        "number or name (default 0).",
        "mode");
    const QCommandLineOption backColor = valueOption(
        "back-color", "Background colour of mode 0 (default: a palette colour).", "RRGGBB");
    const QCommandLineOption grad1 = valueOption(
        "grad-color1", "Gradient start colour (default: the background colour).", "RRGGBB");
    const QCommandLineOption grad2 = valueOption(
        "grad-color2", "Gradient end colour (default: another palette colour).", "RRGGBB");
    const QCommandLineOption backImage =
        valueOption("back-image", "Background picture file, scaled to cover the frame.", "file");
    const QCommandLineOption polySize = valueOption(
        "poly-size", "Side of one grid cell in pixels, 0 = automatic (default 0).", "pixels");
    const QCommandLineOption polyColor =
        valueOption("poly-color", "Triangle colour (default 000000).", "RRGGBB");
    const QCommandLineOption startOpacity = valueOption(
        "start-opacity", "One end of the triangle opacities in percent (default 2).", "percent");
    const QCommandLineOption endOpacity = valueOption(
        "end-opacity", "Other end of the triangle opacities in percent (default 25).", "percent");
    const QCommandLineOption lineColor =
        valueOption("line-color", "Outline colour (default FFFFFF).", "RRGGBB");
    const QCommandLineOption lineOpacity = valueOption(
        "line-opacity", "Outline opacity in percent, 0 = no outlines (default 0).", "percent");
    const QCommandLineOption seed =
        valueOption("seed", "Mesh seed, 0..4294967295 (default: a fresh one, printed).", "n");
    const QCommandLineOption count =
        valueOption("count", "Make n pictures, numbered name-001.ext and so on (default 1).", "n");
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("File to write (default facetta.png)."),
                                    QStringLiteral("file"));
    const QCommandLineOption meshJson(
        QStringLiteral("mesh-json"),
        QStringLiteral("Print the mesh as one JSON object instead of writing a picture."));
    const QCommandLineOption setWallpaper(
        QStringLiteral("set-wallpaper"),
        QStringLiteral(
            "Also write the picture as PNG to $XDG_DATA_HOME/facetta/wallpapers/ and set it as the "
            "desktop background (GNOME, Budgie, Unity, Pantheon, Cinnamon, MATE, KDE Plasma, Xfce, "
            "LXQt, sway, or X11 with feh or xwallpaper). Exit status 2 when it cannot be set; the "
            "picture is kept."));
    const QCommandLineOption span(
        QStringLiteral("span"),
        QStringLiteral("With --set-wallpaper: one picture spanning all screens."));
    for (const QCommandLineOption* opt :
         {&help,      &version,      &width,      &height,       &resolution,  &quality,
          &mode,      &backColor,    &grad1,      &grad2,        &backImage,   &polySize,
          &polyColor, &startOpacity, &endOpacity, &lineColor,    &lineOpacity, &seed,
          &count,     &output,       &meshJson,   &setWallpaper, &span})
        parser.addOption(*opt);

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return CliParse::Error;
    }
    if (parser.isSet(help)) {
        text = parser.helpText();
        return CliParse::Exit0;
    }
    if (parser.isSet(version)) {
        text = QStringLiteral("Facetta V1.0 (20170326)\n");
        return CliParse::Exit0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error =
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return CliParse::Error;
    }

    ImageSettings& s = o.settings;
    auto last = [&parser](const QCommandLineOption& opt) { return parser.values(opt).constLast(); };
    auto badValue = [&error, &last](const QCommandLineOption& opt, const char* what) {
        error = QStringLiteral("--%1: \"%2\" is not %3")
                    .arg(opt.names().constLast(), last(opt), QLatin1String(what));
        return CliParse::Error;
    };
    const struct {
        const QCommandLineOption* opt;
        int32_t* field;
    } integers[] = {
        {&width, &s.nWidth},
        {&height, &s.nHeight},
        {&resolution, &s.nResolution},
        {&quality, &s.nQuality},
        {&polySize, &s.nPolySize},
        {&startOpacity, &s.nStartOpacity},
        {&endOpacity, &s.nEndOpacity},
        {&lineOpacity, &s.nLineOpacity},
        {&count, &o.count},
    };
    for (const auto& entry : integers)
        if (parser.isSet(*entry.opt) && !ParseInt(last(*entry.opt), *entry.field))
            return badValue(*entry.opt, "a whole number in the 32-bit range");
    if (parser.isSet(mode) && !ParseMode(last(mode), s.nBackMode))
        return badValue(mode, "a background mode (0..7 or a mode name)");
    const struct {
        const QCommandLineOption* opt;
        COLORREF* field;
        int given;
    } colors[] = {
        {&backColor, &s.crBackColor, 0},  {&grad1, &s.crGradColor1, 1},
        {&grad2, &s.crGradColor2, 2},     {&polyColor, &s.crPolyColor, -1},
        {&lineColor, &s.crLineColor, -1},
    };
    for (const auto& entry : colors) {
        if (!parser.isSet(*entry.opt)) continue;
        if (!ParseColor(last(*entry.opt), *entry.field))
            return badValue(*entry.opt, "a colour (RRGGBB)");
        if (entry.given >= 0) o.colorsGiven[entry.given] = true;
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        const uint v = last(seed).trimmed().toUInt(&ok, 10);
        if (!ok || last(seed).trimmed().startsWith(QLatin1Char('-')))
            return badValue(seed, "a seed (0..4294967295)");
        o.seed = v;
    }
    if (parser.isSet(count) && o.count < 1) return badValue(count, "a count of 1 or more");
    if (parser.isSet(output)) {
        o.outputGiven = true;
        o.output = last(output);
        if (o.output.isEmpty()) {
            error = QStringLiteral("--output: the file name is empty");
            return CliParse::Error;
        }
    }
    if (parser.isSet(backImage)) {
        o.backImage = last(backImage);
        s.SetBackImagePath(
            std::u16string_view(reinterpret_cast<const char16_t*>(o.backImage.utf16()),
                                static_cast<size_t>(o.backImage.size())));
    }
    o.meshJson = parser.isSet(meshJson);
    o.setWallpaper = parser.isSet(setWallpaper);
    o.span = parser.isSet(span);
    if (o.span && !o.setWallpaper) {
        error = QStringLiteral("--span works only with --set-wallpaper");
        return CliParse::Error;
    }
    if (o.setWallpaper && (o.meshJson || o.count > 1)) {
        error = QStringLiteral("--set-wallpaper makes one picture: it cannot go with %1")
                    .arg(o.meshJson ? QStringLiteral("--mesh-json") : QStringLiteral("--count"));
        return CliParse::Error;
    }

    // The same bounds the settings pane keeps.
    const struct {
        const QCommandLineOption* opt;
        int32_t* field;
        int32_t lo;
        int32_t hi;
    } clamps[] = {
        {&width, &s.nWidth, 300, INT32_MAX},
        {&height, &s.nHeight, 200, INT32_MAX},
        {&resolution, &s.nResolution, 72, 300},
        {&quality, &s.nQuality, 1, 100},
    };
    for (const auto& c : clamps) {
        const int32_t v = *c.field;
        const int32_t clamped = v < c.lo ? c.lo : (v > c.hi ? c.hi : v);
        if (clamped != v) {
            o.notes << QStringLiteral("--%1 %2 is out of range; using %3")
                           .arg(c.opt->names().constLast())
                           .arg(v)
                           .arg(clamped);
            *c.field = clamped;
        }
    }
    return CliParse::Run;
}

QString NumberedPath(const QString& path, int index, int count) {
    if (count <= 1) return path;
    const int digits = qMax(3, static_cast<int>(QString::number(count).size()));
    const QString number = QStringLiteral("-%1").arg(index + 1, digits, 10, QLatin1Char('0'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash =
        qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    if (dot <= slash + 1) return path + number;
    return path.left(dot) + number + path.mid(dot);
}

void PickSeedColors(CliOptions& o, uint32_t seed) {
    SeedRandom(seed);
    const COLORREF c1 = kPalette[static_cast<size_t>(RandomBetween(0, kPaletteSize - 1))];
    COLORREF c2 = c1;
    while (c2 == c1) c2 = kPalette[static_cast<size_t>(RandomBetween(0, kPaletteSize - 1))];
    if (!o.colorsGiven[0]) o.settings.crBackColor = c1;
    if (!o.colorsGiven[1]) o.settings.crGradColor1 = c1;
    if (!o.colorsGiven[2]) o.settings.crGradColor2 = c2;
}
