// facetta-cli's option parsing on arbitrary argument lists (one argument per line of the
// input), followed by the output path rule and the numbering of several pictures; and the
// whole input as text pasted as a recipe, which must read back what it was written from.
// Checked beyond the sanitizers: whatever is accepted is within the bounds the program keeps.
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cli_options.h"
#include "fuzz_check.h"
#include "image_encoder.h"
#include "recipe.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // As in facetta-cli, which parses with its application object in place (never destroyed
    // here: tearing it down after Qt's statics crashes at exit).
    new QCoreApplication(*argc, *argv);
    QCoreApplication::setApplicationName(QStringLiteral("facetta-cli"));
    return 0;
}

namespace {

void CheckRecipe(const QString& text) {
    Recipe recipe;
    QString error;
    if (!ParseRecipe(text, recipe, error)) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    const ImageSettings& s = recipe.settings;
    FUZZ_CHECK(s.nWidth >= 300 && s.nHeight >= 200);
    FUZZ_CHECK(s.nResolution >= 72 && s.nResolution <= 300);
    // Whatever was accepted is written back as a recipe that reads back the same.
    Recipe again;
    FUZZ_CHECK(ParseRecipe(MakeRecipe(s, recipe.nSeed), again, error));
    FUZZ_CHECK(again.settings == s && again.nSeed == recipe.nSeed && again.bSeedGiven);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    CheckRecipe(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    QStringList arguments{QStringLiteral("facetta-cli")};
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\n');
    for (const QByteArray& line : lines) arguments << QString::fromUtf8(line);

    CliOptions o;
    o.settings = DefaultSettings();
    QString error, text;
    switch (ParseCliArguments(arguments, o, error, text)) {
        case CliParse::Error:
            FUZZ_CHECK(!error.isEmpty());
            return 0;
        case CliParse::Exit0:
            FUZZ_CHECK(!text.isEmpty());
            return 0;
        case CliParse::Run:
            break;
    }
    const ImageSettings& s = o.settings;
    FUZZ_CHECK(s.nWidth >= 300 && s.nHeight >= 200);
    FUZZ_CHECK(s.nResolution >= 72 && s.nResolution <= 300);
    FUZZ_CHECK(s.nQuality >= 1 && s.nQuality <= 100);
    FUZZ_CHECK(s.nBackMode >= 0 && s.nBackMode <= 7);
    FUZZ_CHECK(o.count >= 1);
    FUZZ_CHECK(!o.output.isEmpty());
    FUZZ_CHECK(s.szBackImage[kBackImagePathLength - 1] == 0);
    for (COLORREF c : {s.crBackColor, s.crGradColor1, s.crGradColor2, s.crPolyColor, s.crLineColor})
        FUZZ_CHECK((c & 0xFF000000u) == 0);

    const PictureFilePath target = ResolvePictureFilePath(o.output);
    FUZZ_CHECK(target.path.startsWith(o.output));
    FUZZ_CHECK(
        target.extension == QLatin1String("jpg") || target.extension == QLatin1String("png") ||
        target.extension == QLatin1String("gif") || target.extension == QLatin1String("bmp"));
    FUZZ_CHECK(ExtensionOfPath(target.path) == target.extension);
    ImageEncoderId id{};
    FUZZ_CHECK(FindImageEncoder(target.mimeType, &id) >= 0);
    for (int index : {0, o.count - 1}) {
        const QString numbered = NumberedPath(target.path, index, o.count);
        FUZZ_CHECK(numbered.size() >= target.path.size());
        if (o.count == 1) FUZZ_CHECK(numbered == target.path);
    }
    return 0;
}
