// A whole clipboard copy of a rendered picture, and its steps, against a plain copy made
// with Qt alone (its PNG writer, a white-backed image, one file, one clipboard call), in one
// process on the offscreen platform.
//
//   clipboard_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <tuple>

#include "bench_pictures.h"
#include "clipboard_export.h"
#include "image_settings.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "renderer.h"

namespace {

const Picture& Arg(const benchmark::State& state) {
    return RenderedPicture(int(state.range(0)), int(state.range(1)), int(state.range(2)));
}

QString TempFolder() {
    static QTemporaryDir dir;
    return dir.path();
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int mode : {0, 3}) {
        b->Args({1920, 1080, mode});
        b->Args({3840, 2160, mode});
    }
    b->Unit(benchmark::kMillisecond);
}

void BM_CopyOurs(benchmark::State& state) {
    const Picture& picture = Arg(state);
    ClipboardExport record;
    record.strTempFolder = TempFolder();
    for (auto _ : state) CopyPictureToClipboard(record, &picture);
    record.ReleaseClipboardPayloads();
}
BENCHMARK(BM_CopyOurs)->Apply(Sizes);

// The same offer made the obvious way with Qt's own pieces.
void BM_CopyQtReference(benchmark::State& state) {
    const Picture& picture = Arg(state);
    const QString path = TempFolder() + QStringLiteral("/reference.png");
    for (auto _ : state) {
        const QImage image = PictureAsImage(picture);
        QImage bitmap(image.size(), QImage::Format_RGB32);
        bitmap.fill(Qt::white);
        QPainter(&bitmap).drawImage(0, 0, image);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(png);
        auto* data = new QMimeData;
        data->setData(QStringLiteral("image/png"), png);
        data->setImageData(bitmap);
        QGuiApplication::clipboard()->setMimeData(data);
    }
    QFile::remove(path);
}
BENCHMARK(BM_CopyQtReference)->Apply(Sizes);

void BM_StepBitmap(benchmark::State& state) {
    const Picture& picture = Arg(state);
    for (auto _ : state) benchmark::DoNotOptimize(BuildClipboardBitmap(picture));
}
BENCHMARK(BM_StepBitmap)->Apply(Sizes);

void BM_StepPng(benchmark::State& state) {
    const Picture& picture = Arg(state);
    QByteArray png;
    for (auto _ : state) EncodePngToMemory(picture, png);
    state.counters["bytes"] = double(png.size());
}
BENCHMARK(BM_StepPng)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
