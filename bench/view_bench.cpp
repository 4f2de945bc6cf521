// The preview's costs seen through the real widget (offscreen): regenerate-and-repaint, and
// paints and scrolls of a very large picture, each beside a reference in the same process
// (the renderer alone, QImage's smooth scaling, a plain QPainter blit of one viewport).
// CPU times are the whole process's: Qt scales large images on several threads.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <memory>

#include "facetta_doc.h"
#include "facetta_view.h"
#include "picture_image.h"
#include "renderer.h"

namespace {

constexpr int kClientW = 800, kClientH = 600;

struct Window {
    CFacettaDoc doc;
    CFacettaView view{&doc};

    Window(int w, int h) {
        view.resize(kClientW, kClientH);
        view.show();
        ImageSettings s = view.m_settings;
        s.nWidth = w;
        s.nHeight = h;
        view.ApplySettings(&s);
        view.FinishRender();
        view.m_nFadeAlpha = 260;
        QApplication::processEvents();
    }
};

Window& LargeWindow() {
    static Window w(7680, 4320);
    return w;
}

void SetZoom(CFacettaView& view, float zoom) {
    view.m_fZoom = zoom;
    view.UpdateScrollSizes(true);
    view.horizontalScrollBar()->setValue(0);
    view.verticalScrollBar()->setValue(0);
    view.viewport()->repaint();
}

// Regenerate a 3840x2160 picture and repaint it fitted.
void BM_ViewRegenerateAndRepaint3840(benchmark::State& state) {
    static Window w(3840, 2160);
    for (auto _ : state) {
        w.view.OnGeneratePreview();
        w.view.FinishRender();  // rendered off the interface thread at this size
        w.view.viewport()->repaint();
    }
}
BENCHMARK(BM_ViewRegenerateAndRepaint3840)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The same without the repaint: the difference is the reduction for display and the paint.
void BM_ViewRegenerateOnly3840(benchmark::State& state) {
    static Window w(3840, 2160);
    for (auto _ : state) {
        w.view.OnGeneratePreview();
        w.view.FinishRender();
    }
}
BENCHMARK(BM_ViewRegenerateOnly3840)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Reference: the engine's part of it, mesh and render only.
void BM_ReferenceRender3840(benchmark::State& state) {
    static Window w(3840, 2160);
    for (auto _ : state) {
        PolygonMesh mesh;
        GenerateMesh(w.view.m_settings, mesh);
        Picture p = RenderPicture(w.view.m_settings, mesh, nullptr);
        benchmark::DoNotOptimize(p.Pixels());
    }
}
BENCHMARK(BM_ReferenceRender3840)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Repaint of a fitted 7680x4320 picture (the reduced copy is cached).
void BM_ViewPaintFit7680(benchmark::State& state) {
    CFacettaView& view = LargeWindow().view;
    SetZoom(view, -1.0f);
    for (auto _ : state) view.viewport()->repaint();
}
BENCHMARK(BM_ViewPaintFit7680)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Scrolling by a line at 100%, 50% and 400%.
void ScrollBench(benchmark::State& state, float zoom) {
    CFacettaView& view = LargeWindow().view;
    SetZoom(view, zoom);
    QScrollBar* bar = view.verticalScrollBar();
    int step = 40;
    for (auto _ : state) {
        if (bar->value() + step > bar->maximum() || bar->value() + step < 0) step = -step;
        bar->setValue(bar->value() + step);
        view.viewport()->repaint();
    }
}
void BM_ViewScroll7680Zoom100(benchmark::State& state) {
    ScrollBench(state, 1.0f);
}
void BM_ViewScroll7680Zoom50(benchmark::State& state) {
    ScrollBench(state, 0.5f);
}
void BM_ViewScroll7680Zoom400(benchmark::State& state) {
    ScrollBench(state, 4.0f);
}
BENCHMARK(BM_ViewScroll7680Zoom100)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ViewScroll7680Zoom50)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ViewScroll7680Zoom400)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// A zoom change: the reduced copy is made anew each time.
void BM_ViewZoomChange7680(benchmark::State& state) {
    CFacettaView& view = LargeWindow().view;
    bool fit = false;
    for (auto _ : state) {
        fit = !fit;
        SetZoom(view, fit ? -1.0f : 0.5f);
    }
}
BENCHMARK(BM_ViewZoomChange7680)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Reference: Qt's smooth reduction of the same picture to the fitted size.
void BM_ReferenceQtSmoothScale7680(benchmark::State& state) {
    CFacettaView& view = LargeWindow().view;
    const QImage image = PictureAsImage(static_cast<const Picture&>(*view.m_pPicture));
    for (auto _ : state) {
        QImage small = image.scaled(800, 450, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(small.constBits());
    }
}
BENCHMARK(BM_ReferenceQtSmoothScale7680)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Reference: one viewport's worth of pixels blitted with QPainter.
void BM_ReferenceBlitViewport(benchmark::State& state) {
    QImage src(kClientW, kClientH, QImage::Format_ARGB32);
    src.fill(Qt::darkCyan);
    QImage dst(kClientW, kClientH, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&dst);
        p.fillRect(dst.rect(), Qt::white);
        p.drawImage(0, 0, src);
    }
}
BENCHMARK(BM_ReferenceBlitViewport)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
