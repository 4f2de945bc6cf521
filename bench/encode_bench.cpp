// Picture writing: our PNG writer against Qt's, side by side on rendered pictures, plus the
// other formats and the PNG knobs our writer was tuned with.
//
//   encode_bench --benchmark_repetitions=5        the comparison and the other formats
//   encode_bench --benchmark_filter=PngTuning     the filter / zlib sweep
//   encode_bench --benchmark_filter=PngThreads    one thread against several: wall time and the
//                                                 CPU time of the busiest thread
//   encode_bench --benchmark_filter=GifTuning     GIF dithering and palette sample against their
//                                                 mean colour error
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "bench_pictures.h"
#include "image_settings.h"
#include "picture_image.h"
#include "picture_writer.h"
#include "polygon_mesh.h"
#include "renderer.h"
#include "svg_writer.h"

namespace {

void SetBytes(benchmark::State& state, qint64 bytes) {
    state.counters["bytes"] = benchmark::Counter(static_cast<double>(bytes));
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int mode : {0, 3, 5}) {
        b->Args({1920, 1080, mode});
        b->Args({3840, 2160, mode});
    }
    b->Unit(benchmark::kMillisecond);
}

void BM_PngOurs(benchmark::State& state) {
    const Picture& p =
        RenderedPicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                        static_cast<int>(state.range(2)));
    // One thread, like Qt's writer, so that the CPU times compare (PngThreads shows the rest).
    PngTuning tuning = DefaultPngTuning();
    tuning.threads = 1;
    QByteArray out;
    for (auto _ : state) {
        EncodePngToMemory(p, out, tuning);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, out.size());
}
BENCHMARK(BM_PngOurs)->Apply(Sizes);

// Runs `encode` (which sets `busiest`) each iteration; records busiest_ms and the bytes.
template <typename Encode>
QByteArray TimeEncodes(benchmark::State& state, double& busiest, Encode&& encode) {
    double total = 0;
    QByteArray out;
    for (auto _ : state) {
        encode(out);
        benchmark::DoNotOptimize(out.data());
        total += busiest;
    }
    state.counters["busiest_ms"] =
        benchmark::Counter(total * 1000 / static_cast<double>(state.iterations()));
    SetBytes(state, out.size());
    return out;
}

// The default PNG writer on 1, 2 and 4 threads. Where cores are shared, wall time says little:
// busiest_ms is the CPU time of the busiest thread, what wall time would be on free cores.
void BM_PngThreads(benchmark::State& state) {
    const Picture& p =
        RenderedPicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 0);
    PngTuning tuning = DefaultPngTuning();
    tuning.threads = static_cast<int>(state.range(2));
    double busiest = 0;
    tuning.busiestThreadCpu = &busiest;
    TimeEncodes(state, busiest, [&](QByteArray& out) { EncodePngToMemory(p, out, tuning); });
}
BENCHMARK(BM_PngThreads)
    ->ArgsProduct({{7680}, {4320}, {1, 2, 4}})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same pictures as SVG documents (from settings and mesh; BM_PngOurs is the reference
// in the same run). Mode 7 is the transparent background, whose triangles stay translucent.
void BM_SvgOurs(benchmark::State& state) {
    ImageSettings s = DefaultSettings();
    s.nWidth = static_cast<int>(state.range(0));
    s.nHeight = static_cast<int>(state.range(1));
    s.nBackMode = static_cast<int>(state.range(2));
    s.crBackColor = s.crGradColor1 = kPalette[6];
    s.crGradColor2 = kPalette[9];
    PolygonMesh mesh;
    GenerateMesh(s, mesh, 20170326u);
    QByteArray out;
    for (auto _ : state) {
        EncodeSvg(s, mesh, nullptr, QString(), out);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, out.size());
}
BENCHMARK(BM_SvgOurs)->Apply(Sizes)->Args({1920, 1080, kBackTransparent});
BENCHMARK(BM_PngOurs)->Args({1920, 1080, kBackTransparent})->Unit(benchmark::kMillisecond);

// Times Qt's PNG writer on one image, into memory, and records the file size.
void TimeQtPng(benchmark::State& state, const QImage& image) {
    QByteArray out;
    for (auto _ : state) {
        out.clear();
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.write(image);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, out.size());
}

// Reference: Qt's writer on the picture as it is (ARGB32, so an RGBA file).
void BM_PngQt(benchmark::State& state) {
    const Picture& p =
        RenderedPicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                        static_cast<int>(state.range(2)));
    const QImage image = PictureAsImage(p);
    TimeQtPng(state, image);
}
BENCHMARK(BM_PngQt)->Apply(Sizes);

// Second reference: Qt's writer given an RGB32 image (an RGB file like ours); the conversion
// is not timed.
void BM_PngQtRgb32(benchmark::State& state) {
    const Picture& p =
        RenderedPicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                        static_cast<int>(state.range(2)));
    const QImage image = PictureAsImage(p).convertToFormat(QImage::Format_RGB32);
    TimeQtPng(state, image);
}
BENCHMARK(BM_PngQtRgb32)->Apply(Sizes);

// Whole file writes (temporary file, rename) for every format.
void BM_WriteFile(benchmark::State& state) {
    const auto encoder = static_cast<ImageEncoderId>(state.range(0));
    const int quality = static_cast<int>(state.range(1));
    const Picture& p =
        RenderedPicture(static_cast<int>(state.range(2)), static_cast<int>(state.range(3)),
                        static_cast<int>(state.range(4)));
    const QString path =
        QDir::temp().filePath(QStringLiteral("facetta_encode_bench.%1").arg(state.range(0)));
    for (auto _ : state) WritePicture(p, path, encoder, quality);
    SetBytes(state, QFile(path).size());
    // Mean absolute difference per colour channel (0..255) of the file read back.
    const QImage back = QImage(path).convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int y = 0; y < p.Height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(back.constScanLine(y));
        for (int x = 0; x < p.Width(); ++x)
            for (int shift = 0; shift <= 16; shift += 8)
                sum += std::abs(static_cast<int>((p.Pixel(x, y) >> shift) & 0xFF) -
                                static_cast<int>((row[x] >> shift) & 0xFF));
    }
    state.counters["mean_err"] = sum / (3.0 * static_cast<double>(p.PixelCount()));
    QFile::remove(path);
}
void Formats(benchmark::internal::Benchmark* b) {
    b->ArgNames({"encoder", "quality", "w", "h", "mode"});
    for (int mode : {0, 3, 5}) {
        for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
            b->Args({static_cast<int>(ImageEncoderId::Png), 100, w, h, mode});
            b->Args({static_cast<int>(ImageEncoderId::Jpeg), 100, w, h, mode});
            b->Args({static_cast<int>(ImageEncoderId::Jpeg), 90, w, h, mode});
            b->Args({static_cast<int>(ImageEncoderId::Gif), 100, w, h, mode});
            b->Args({static_cast<int>(ImageEncoderId::Bmp), 100, w, h, mode});
        }
    }
    b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_WriteFile)->Apply(Formats);

// Mean absolute difference per colour channel (0..255) of a decoded GIF and the picture laid
// over white (pixels with alpha 0 left out).
double GifError(const Picture& p, const QByteArray& gif) {
    const QImage back = QImage::fromData(gif, "GIF").convertToFormat(QImage::Format_ARGB32);
    if (back.size() != QSize(p.Width(), p.Height())) return -1;
    double sum = 0;
    for (int y = 0; y < p.Height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(back.constScanLine(y));
        for (int x = 0; x < p.Width(); ++x) {
            const uint32_t a = p.Pixel(x, y) >> 24;
            if (a == 0) continue;
            for (int shift = 0; shift <= 16; shift += 8) {
                const uint32_t c = (p.Pixel(x, y) >> shift) & 0xFF;
                const auto over = static_cast<int>((c * a + 255 * (255 - a) + 127) / 255);
                sum += std::abs(over - static_cast<int>((row[x] >> shift) & 0xFF));
            }
        }
    }
    return sum / (3.0 * static_cast<double>(p.PixelCount()));
}

// The GIF writer's knobs: dithering and its strength, the palette's sample and threads, with
// the mean colour error and the busiest thread's CPU time.
void BM_GifTuning(benchmark::State& state) {
    const Picture& p =
        RenderedPicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                        static_cast<int>(state.range(2)));
    GifTuning tuning = DefaultGifTuning();
    tuning.dither = static_cast<GifTuning::Dither>(state.range(3));
    tuning.ditherStrength = static_cast<int>(state.range(4));
    tuning.samplePixels = static_cast<int>(state.range(5)) << 10;
    tuning.threads = static_cast<int>(state.range(6));
    double busiest = 0;
    tuning.busiestThreadCpu = &busiest;
    const QByteArray out =
        TimeEncodes(state, busiest, [&](QByteArray& gif) { EncodeGifToMemory(p, gif, tuning); });
    state.counters["mean_err"] = GifError(p, out);
}
void GifGrid(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "mode", "dither", "strength", "sample_k", "threads"});
    const int none = static_cast<int>(GifTuning::Dither::None);
    const int fs = static_cast<int>(GifTuning::Dither::FloydSteinberg);
    const int ordered = static_cast<int>(GifTuning::Dither::Ordered);
    for (int mode : {0, 3, 5, 1}) {
        b->Args({7680, 4320, mode, none, 0, 512, 1});
        for (int amplitude : {4, 6}) b->Args({7680, 4320, mode, ordered, amplitude, 512, 1});
        b->Args({7680, 4320, mode, ordered, 4, 128, 1});
        b->Args({7680, 4320, mode, fs, 8, 512, 1});
        b->Args({7680, 4320, mode, ordered, 4, 512, 2});
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
}
BENCHMARK(BM_GifTuning)->Apply(GifGrid);

// The sweep: filter x zlib level x zlib strategy on 1920 x 1080 in the three modes.
void BM_PngTuning(benchmark::State& state) {
    const Picture& p = RenderedPicture(1920, 1080, static_cast<int>(state.range(0)));
    PngTuning tuning{static_cast<PngTuning::Filter>(state.range(1)),
                     static_cast<int>(state.range(2)), static_cast<int>(state.range(3))};
    tuning.deflater = static_cast<PngTuning::Deflater>(state.range(4));
    tuning.threads = 1;
    QByteArray out;
    for (auto _ : state) {
        EncodePngToMemory(p, out, tuning);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, out.size());
}
void TuningGrid(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mode", "filter", "level", "strategy", "isal"});
    const int zlib = static_cast<int>(PngTuning::Deflater::Zlib);
    const int isal = static_cast<int>(PngTuning::Deflater::Isal);
    for (int mode : {0, 3, 5}) {
        for (auto filter : {PngTuning::Filter::Sub, PngTuning::Filter::Up, PngTuning::Filter::Paeth,
                            PngTuning::Filter::SubOrUp}) {
            for (int strategy : {Z_RLE, Z_FILTERED})
                for (int level : {1, 2, 3, 4, 6})
                    b->Args({mode, static_cast<int>(filter), level, strategy, zlib});
            if (filter != PngTuning::Filter::Paeth)  // ISA-L: our writer's filters only
                for (int level = 0; level <= 3; ++level)
                    b->Args({mode, static_cast<int>(filter), level, 0, isal});
        }
        // What libpng does by default: every filter tried per row, zlib level 6.
        b->Args({mode, static_cast<int>(PngTuning::Filter::Adaptive), 6, Z_FILTERED, zlib});
    }
    b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_PngTuning)->Apply(TuningGrid);

// Prints ours against Qt for every size and mode once all runs are in.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration) continue;
            // The best of the repetitions, in CPU time: the machine is shared.
            const std::string name =
                r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args);
            const auto bytes = r.counters.find("bytes");
            const double ms = r.GetAdjustedCPUTime();
            auto [it, inserted] = m_results.try_emplace(
                name, ms, bytes == r.counters.end() ? 0.0 : bytes->second.value);
            if (!inserted && ms < it->second.first) it->second.first = ms;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const auto& [name, ours] : m_results) {
            if (name.rfind("BM_PngOurs/", 0) != 0) continue;
            const std::string args = name.substr(std::string("BM_PngOurs").size());
            const auto qt = m_results.find("BM_PngQt" + args);
            const auto rgb = m_results.find("BM_PngQtRgb32" + args);
            if (qt == m_results.end()) continue;
            if (!header) {
                std::printf(
                    "\nPNG, best CPU time of the repetitions\n"
                    "w/h/mode          ours ms   Qt ms  speed-up  ours bytes    Qt bytes  Qt RGB32 "
                    "bytes\n");
                header = true;
            }
            std::printf("%-16s %8.1f %7.1f %8.1fx %11.0f %11.0f %15.0f\n", args.c_str() + 1,
                        ours.first, qt->second.first, qt->second.first / ours.first, ours.second,
                        qt->second.second, rgb == m_results.end() ? 0.0 : rgb->second.second);
        }
    }

private:
    std::map<std::string, std::pair<double, double>> m_results;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
