// An edit through the settings pane on a 1920x1080 picture, from the commit of the typed
// value (the Enter key) to the end of the repaint it causes, beside the same change handed
// to the view directly in the same process (the pane's own share is the difference).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "facetta_doc.h"
#include "facetta_view.h"
#include "my_color_property.h"
#include "my_int_property.h"
#include "properties_wnd.h"
#include "property_editors.h"

namespace {

// Notes when the view's viewport is painted.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return false;
    }
};

struct Rig {
    QMainWindow frame;
    CFacettaDoc doc;
    CFacettaView* view = new CFacettaView(&doc);
    CPropertiesWnd* pane = new CPropertiesWnd(QStringLiteral("属性"), &frame);
    PaintWatch watch;

    Rig() {
        frame.setCentralWidget(view);
        frame.addDockWidget(Qt::RightDockWidgetArea, pane);
        pane->SetActiveViewProvider([this] { return view; });
        frame.resize(1100, 700);
        frame.show();
        (void)QTest::qWaitForWindowExposed(&frame);
        pane->BindSettings(&view->m_settings);
        view->OnGeneratePreview();
        view->m_nFadeAlpha = 260;  // past the fade-in
        view->viewport()->installEventFilter(&watch);
        QTest::qWait(50);
    }

    // Runs the commit and waits for the repaint it causes; returns the seconds between.
    template <class Commit>
    double Time(Commit commit) {
        QApplication::processEvents();
        watch.painted = false;
        QElapsedTimer timer;
        timer.start();
        commit();
        // A commit that changed nothing paints nothing: give up rather than wait forever. A
        // picture rendered off the interface thread counts once it is painted.
        // Waiting sleeps, as the program's event loop does, rather than spinning on a core the
        // render may need.
        QTimer giveUp;
        giveUp.start(5000);
        while (!watch.painted && timer.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (view->IsRendering()) watch.painted = false;
        }
        if (!watch.painted) {
            fprintf(stderr, "no repaint after the commit\n");
            std::abort();
        }
        return static_cast<double>(timer.nsecsElapsed()) * 1e-9;
    }

    // Types into the property's editor (untimed), then times Enter to the repaint.
    double TypedEdit(CGridProperty* property, const QString& text) {
        CPropertyGrid& grid = pane->PropList();
        CPropertyTree* tree = grid.Tree();
        const QRect cell = tree->visualRect(tree->indexFromItem(property->GetItem(), 1));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, cell.center());
        CPropertyEditor* editor = grid.CurrentEditor();
        QWidget* keys = editor->focusProxy();
        QTest::keyClicks(keys, text);
        return Time([&] { QTest::keyClick(keys, Qt::Key_Return); });
    }
};

Rig& TheRig() {
    static Rig rig;
    return rig;
}

// Polygon colour: the mesh stays, the picture is rendered and repainted.
void BM_PaneColourEdit1920(benchmark::State& state) {
    Rig& rig = TheRig();
    for (auto _ : state) {
        // Always a change: the other of two colours.
        const bool first = rig.pane->m_pPropPolyColor->GetColor() == RGBColor(0x20, 0x30, 0x40);
        state.SetIterationTime(
            rig.TypedEdit(rig.pane->m_pPropPolyColor, first ? "405060" : "203040"));
    }
}
BENCHMARK(BM_PaneColourEdit1920)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DirectColourChange1920(benchmark::State& state) {
    Rig& rig = TheRig();
    for (auto _ : state) {
        ImageSettings s = rig.view->m_settings;
        s.crPolyColor = s.crPolyColor == RGBColor(0x20, 0x30, 0x40) ? RGBColor(0x40, 0x50, 0x60)
                                                                    : RGBColor(0x20, 0x30, 0x40);
        state.SetIterationTime(rig.Time([&] { rig.view->ApplySettings(&s); }));
    }
}
BENCHMARK(BM_DirectColourChange1920)->UseManualTime()->Unit(benchmark::kMillisecond);

// End opacity: a new mesh as well.
void BM_PaneOpacityEdit1920(benchmark::State& state) {
    Rig& rig = TheRig();
    for (auto _ : state) {
        const bool first = rig.pane->m_pPropEndOpacity->GetIntValue() == 24;
        state.SetIterationTime(rig.TypedEdit(rig.pane->m_pPropEndOpacity, first ? "25" : "24"));
    }
}
BENCHMARK(BM_PaneOpacityEdit1920)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DirectOpacityChange1920(benchmark::State& state) {
    Rig& rig = TheRig();
    for (auto _ : state) {
        ImageSettings s = rig.view->m_settings;
        s.nEndOpacity = s.nEndOpacity == 24 ? 25 : 24;
        state.SetIterationTime(rig.Time([&] { rig.view->ApplySettings(&s); }));
    }
}
BENCHMARK(BM_DirectOpacityChange1920)->UseManualTime()->Unit(benchmark::kMillisecond);

// A 7680x4320 picture over a background picture (a 4000x3000 photo-sized file): a colour
// change keeps the size and the background, so only the triangles are drawn anew.
struct BackgroundRig {
    QTemporaryDir dir;
    Rig rig;
    BackgroundRig() {
        QImage photo(4000, 3000, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); ++x)
                row[x] = qRgb((x * 7 + y) & 255, (x ^ y) & 255, (y * 3) & 255);
        }
        const QString path = dir.filePath(QStringLiteral("photo.png"));
        photo.save(path);
        ImageSettings s = rig.view->m_settings;
        s.nWidth = 7680;
        s.nHeight = 4320;
        s.SetBackImagePath(path.toStdU16String());
        rig.view->ApplySettings(&s);
        rig.view->FinishBackgroundLoad();
        rig.view->FinishRender();
        if (!rig.view->m_pBackImage) {
            fprintf(stderr, "the background picture did not load\n");
            std::abort();
        }
        QTest::qWait(50);
    }
};

// Argument 1 renders on the interface thread, as pictures of this size were before they moved
// off it; the CPU column is the interface thread's.
void BM_DirectColourChange7680WithBackground(benchmark::State& state) {
    static BackgroundRig back;
    Rig& rig = back.rig;
    const int64_t workerPixels = CFacettaView::s_nWorkerRenderPixels;
    if (state.range(0)) CFacettaView::s_nWorkerRenderPixels = INT64_MAX;
    for (auto _ : state) {
        ImageSettings s = rig.view->m_settings;
        s.crPolyColor = s.crPolyColor == RGBColor(0x20, 0x30, 0x40) ? RGBColor(0x40, 0x50, 0x60)
                                                                    : RGBColor(0x20, 0x30, 0x40);
        state.SetIterationTime(rig.Time([&] { rig.view->ApplySettings(&s); }));
    }
    CFacettaView::s_nWorkerRenderPixels = workerPixels;
}
BENCHMARK(BM_DirectColourChange7680WithBackground)
    ->ArgName("on_interface_thread")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
