// How long the interface thread goes without handling events while a 7680x4320 picture is
// saved through the preview window, beside the same file written on the interface thread (as
// saving used to be), in one process. A 10 ms timer notes the longest interval between its
// ticks. The first picture of that size is timed the same way.
//   save_gaps [runs]     (default 3; medians are printed)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "facetta_doc.h"
#include "facetta_view.h"
#include "image_encoder.h"
#include "picture_memory.h"
#include "picture_writer.h"

namespace {

// The longest time between two events of the interface thread while `work` runs and for
// `settle` ms after it (the repaints it asked for), and the time `work` took, in milliseconds.
struct Gaps {
    double longest = 0, total = 0;
};

Gaps Watch(const std::function<void()>& work, int settle = 0) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start(10);
    work();
    const qint64 end = clock.nsecsElapsed();
    longest = std::max(longest, end - last);
    if (settle > 0) {
        QEventLoop wait;
        QTimer::singleShot(settle, &wait, &QEventLoop::quit);
        wait.exec();
        longest = std::max(longest, clock.nsecsElapsed() - last);
    }
    return {longest * 1e-6, end * 1e-6};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Pictures take their memory as in the program (huge pages where they pay).
    ConfigurePictureMemoryLimit();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir dir;
    int messages = 0;
    QString target;
    CFacettaView::s_fnSaveDialog = [&](QWidget*, const QString&, const QString&,
                                       const QStringList&) { return target; };
    CFacettaView::s_fnMessageBox = [&](QWidget*, QMessageBox::Icon, const QString&,
                                       const QString& text) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    };

    QMainWindow frame;
    CFacettaDoc doc;
    auto* view = new CFacettaView(&doc);
    frame.setCentralWidget(view);
    frame.statusBar();
    frame.resize(1100, 700);
    frame.show();
    QApplication::processEvents();
    ImageSettings s = view->m_settings;
    s.nWidth = 7680;
    s.nHeight = 4320;

    std::vector<double> firstGap, firstTime;
    for (int i = 0; i < runs; ++i) {
        // Each time a fresh picture of the size, as a new window's first one.
        // Timed until the picture is there (it renders off the interface thread), then
        // watched on through its repaint.
        const Gaps g = Watch(
            [&] {
                view->ApplySettings(&s);
                while (view->IsRendering())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            },
            500);
        firstGap.push_back(g.longest);
        firstTime.push_back(g.total);
        s.nEndOpacity = s.nEndOpacity == 24 ? 25 : 24;
    }
    std::printf("%-44s longest gap %7.0f ms   time %7.0f ms   worst gap %4.0f ms\n",
                "first 7680x4320 picture (interface thread)", Median(firstGap), Median(firstTime),
                *std::max_element(firstGap.begin(), firstGap.end()));

    for (const char* format : {"gif", "png"}) {
        std::vector<double> viewGap, viewTime, refGap, refTime;
        for (int i = 0; i < runs; ++i) {
            target = dir.filePath(QStringLiteral("view.%1").arg(QLatin1String(format)));
            // What the status bar says a second into the save (a save over by then says
            // nothing).
            QString note;
            QTimer noteTimer;
            noteTimer.setSingleShot(true);
            QObject::connect(&noteTimer, &QTimer::timeout, [&] {
                note = frame.statusBar()->currentMessage();
                if (frame.statusBar()->findChild<QProgressBar*>())
                    note += QStringLiteral(" [busy bar]");
            });
            noteTimer.start(1000);
            Gaps g = Watch([&] { view->OnSavePicture(); });
            if (i == 0 && !note.isEmpty())
                std::printf("%s save, status bar after a second: %s\n", format, qPrintable(note));
            viewGap.push_back(g.longest);
            viewTime.push_back(g.total);

            const QString path = dir.filePath(QStringLiteral("ref.%1").arg(QLatin1String(format)));
            ImageEncoderId encoder{};
            FindImageEncoder(QStringLiteral("image/%1").arg(QLatin1String(format)), &encoder);
            g = Watch(
                [&] { WritePicture(*view->m_pPicture, path, encoder, view->m_settings.nQuality); });
            refGap.push_back(g.longest);
            refTime.push_back(g.total);
        }
        std::printf("%s save, through the window:      longest gap %7.0f ms   time %7.0f ms\n",
                    format, Median(viewGap), Median(viewTime));
        std::printf("%s save, on the interface thread: longest gap %7.0f ms   time %7.0f ms\n",
                    format, Median(refGap), Median(refTime));
    }
    return messages == 0 ? 0 : 1;
}
