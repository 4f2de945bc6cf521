// RenderPicture against the same drawing done with QPainter, scene by scene, and the preview's
// reduce-for-display DrawPicture against QImage's smooth scaling. Prints a summary with the
// ratio of each pair after the usual table.
//
// Like the front ends, main() first calls ConfigurePictureMemoryLimit() (when output/ is
// built), which also gives big pictures memory backed by huge pages; QPainter's QImage keeps
// the ordinary heap, as it does in any Qt program.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QSemaphore>
#include <QThreadPool>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../tests/engine/painter_reference.h"
#if __has_include("picture_memory.h")
#include "picture_memory.h"
#define FACETTA_HAVE_OUTPUT 1
#endif
#include "raster.h"
#include "renderer.h"

namespace {

struct Scene {
    const char* name;
    int w, h, polySize, lineOpacity;
};

const Scene kScenes[] = {
    {"1920x1080 default", 1920, 1080, 0, 0},
    {"3840x2160 size 50 outlined", 3840, 2160, 50, 100},
    {"7680x4320 default", 7680, 4320, 0, 0},
};

ImageSettings SceneSettings(const Scene& sc) {
    ImageSettings s = DefaultSettings();
    s.nWidth = sc.w;
    s.nHeight = sc.h;
    s.nPolySize = sc.polySize;
    s.nLineOpacity = sc.lineOpacity;
    // Fixed colours: every run draws the same picture.
    s.crBackColor = s.crGradColor1 = kPalette[2];
    s.crGradColor2 = kPalette[7];
    return s;
}

struct Prepared {
    ImageSettings settings;
    PolygonMesh mesh;
};

const Prepared& Prepare(int index) {
    static std::map<int, Prepared> cache;
    auto it = cache.find(index);
    if (it == cache.end()) {
        Prepared p;
        p.settings = SceneSettings(kScenes[index]);
        GenerateMesh(p.settings, p.mesh, 20240611u);
        it = cache.emplace(index, std::move(p)).first;
    }
    return it->second;
}

void BM_RenderPicture(benchmark::State& state) {
    const Prepared& p = Prepare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Picture pic = RenderPicture(p.settings, p.mesh, nullptr);
        benchmark::DoNotOptimize(pic.Pixels());
    }
    state.SetLabel(kScenes[state.range(0)].name);
}

// QPainter hands parts of its fills to Qt's global thread pool and waits for them (on two cores
// that costs more than it gains: half its time goes to switching threads), except when it
// already runs in one of the pool's threads: run there, it draws on one thread, as
// RenderPicture does. Both are timed.
QImage PainterRenderOneThread(const ImageSettings& s, const PolygonMesh& mesh) {
    QImage img;
    QSemaphore done;
    QThreadPool::globalInstance()->start([&] {
        img = PainterRender(s, mesh, nullptr);
        done.release();
    });
    done.acquire();
    return img;
}

void BM_QPainter(benchmark::State& state) {
    const Prepared& p = Prepare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QImage img = PainterRender(p.settings, p.mesh, nullptr);
        benchmark::DoNotOptimize(img.constBits());
    }
    state.SetLabel(kScenes[state.range(0)].name);
}

void BM_QPainterOneThread(benchmark::State& state) {
    const Prepared& p = Prepare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QImage img = PainterRenderOneThread(p.settings, p.mesh);
        benchmark::DoNotOptimize(img.constBits());
    }
    state.SetLabel(kScenes[state.range(0)].name);
}

const Picture& BigPicture() {
    static const Picture pic = [] {
        const Prepared& p = Prepare(2);
        return RenderPicture(p.settings, p.mesh, nullptr);
    }();
    return pic;
}

void BM_ReduceDrawPicture(benchmark::State& state) {
    const Picture& big = BigPicture();
    Picture small = Picture::Create(1000, 562);
    FillRectangle(small, RectI{0, 0, 1000, 562}, 0xFFFFFFFF);
    for (auto _ : state) {
        DrawPicture(small, big, RectI{0, 0, big.Width(), big.Height()}, RectF{0, 0, 1000, 562.5});
        benchmark::DoNotOptimize(small.Pixels());
    }
    state.SetLabel("7680x4320 -> 1000x562");
}

void BM_ReduceQImageScaled(benchmark::State& state) {
    const Picture& big = BigPicture();
    const QImage img(reinterpret_cast<const uchar*>(big.Pixels()), big.Width(), big.Height(),
                     big.Width() * 4, QImage::Format_ARGB32);
    for (auto _ : state) {
        QImage small = img.scaled(1000, 562, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(small.constBits());
    }
    state.SetLabel("7680x4320 -> 1000x562");
}

// Five repetitions each, compared by their medians: one render that meets a busy moment of the
// machine (or of the kernel, finding pages for 133 MB) does not decide a ratio.
BENCHMARK(BM_RenderPicture)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_QPainter)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_QPainterOneThread)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReduceDrawPicture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReduceQImageScaled)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's time in milliseconds for the summary: the median of its
// repetitions where it has them.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            // "BM_Name/arg", whatever the repetitions and time options.
            const std::string key =
                r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args);
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                ms[key] = r.real_accumulated_time * 1e3 / static_cast<double>(r.iterations);
            else if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                ms[key] = r.GetAdjustedRealTime();  // in the benchmark's unit, ms
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
#if defined(FACETTA_HAVE_OUTPUT)
    ConfigurePictureMemoryLimit();
    std::printf(
        "Pictures allocated as the front ends do (ConfigurePictureMemoryLimit: huge pages where "
        "available).\n");
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Medians in ms; QPainter as a program calls it (with Qt's thread pool) and on one thread.
    std::printf("\n%-30s %9s %11s %7s %13s %7s\n", "scene", "ours", "QPainter", "ratio",
                "QPainter 1T", "ratio");
    auto get = [&](const std::string& name) {
        const auto it = reporter.ms.find(name);
        return it == reporter.ms.end() ? -1.0 : it->second;
    };
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i);
        const double ours = get("BM_RenderPicture/" + n), pooled = get("BM_QPainter/" + n),
                     one = get("BM_QPainterOneThread/" + n);
        if (ours <= 0 || pooled <= 0 || one <= 0) continue;
        std::printf("%-30s %9.2f %11.2f %6.1fx %13.2f %6.1fx\n", kScenes[i].name, ours, pooled,
                    pooled / ours, one, one / ours);
    }
    const double reduce = get("BM_ReduceDrawPicture"), scaled = get("BM_ReduceQImageScaled");
    if (reduce > 0 && scaled > 0)
        std::printf("%-30s %9.2f %11.2f %6.1fx   (QImage::scaled, smooth)\n",
                    "reduce 7680x4320 -> 1000x562", reduce, scaled, scaled / reduce);
    benchmark::Shutdown();
    return 0;
}
