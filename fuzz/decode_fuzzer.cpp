// Background-picture decoding from arbitrary bytes: the input becomes a file that
// DecodePictureFile reads with every format Qt has a reader for (chosen by content, as for
// a background picture the user names). Checked beyond the sanitizers: a decoded picture
// never exceeds the pixel limit and is a proper picture.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <unistd.h>

#include "picture_image.h"

namespace {

// Small enough that a run stays fast and lean, large enough for every seed.
constexpr int64_t kMaxPixels = int64_t{1} << 22;

// Never destroyed: tearing it down after Qt's own statics crashes at exit.
QCoreApplication* g_app = nullptr;
QString g_path;
volatile uint32_t g_sink;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Image format plugins are found through the application object.
    g_app = new QCoreApplication(*argc, *argv);
    const QString dir = qEnvironmentVariable("FUZZ_TMPDIR", QDir::tempPath());
    g_path = QStringLiteral("%1/facetta_decode_fuzz_%2").arg(dir).arg(getpid());
    std::atexit([] { QFile::remove(g_path); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        QFile file(g_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        if (file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
            std::abort();
    }
    // Inputs of odd length are decoded for a frame, as the program and the CLI decode; the
    // others whole, as the bounds allow.
    const bool framed = size % 2 == 1;
    const std::optional<Picture> picture = std::move(
        DecodeBackgroundPicture(g_path, framed ? 64 : 0, framed ? 48 : 0, kMaxPixels).picture);
    if (picture) {
        if (picture->IsNull() || picture->Width() <= 0 || picture->Height() <= 0 ||
            static_cast<int64_t>(picture->Width()) * picture->Height() > kMaxPixels) {
            std::fprintf(stderr, "bad picture %dx%d\n", picture->Width(), picture->Height());
            std::abort();
        }
        // Touch every pixel so that a short buffer shows up under the sanitizer.
        uint32_t sum = 0;
        for (size_t i = 0; i < picture->PixelCount(); ++i) sum += picture->Pixels()[i];
        g_sink = sum;
    }
    return 0;
}
