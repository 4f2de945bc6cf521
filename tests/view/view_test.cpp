// The preview view through the real widget: sizes and positions, timers and fade-in, taking
// over settings, drawing and printing.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

#include "picture.h"
#include "picture_writer.h"
#include "print_helper.h"
#include "raster.h"
#include "renderer.h"
#include "view_fixture.h"

namespace {

bool IsWhite(QRgb c) {
    return (c & 0xFFFFFF) == 0xFFFFFF;
}

int MaxChannelDiff(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// What the window shows: the backing store's pixels once pending paints are done, not a
// fresh rendering, so that a missing repaint shows up as a stale picture.
QImage Grab(CFacettaView* view) {
    QApplication::processEvents();
    const QRect r(view->viewport()->mapTo(view, QPoint(0, 0)), view->viewport()->size());
    return view->screen()
        ->grabWindow(view->winId(), r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

struct ScrollCase {
    const char* name;
    int pictureW, pictureH;
    float zoom;
    int clientW, clientH;
    int displayW, displayH;
    bool horizontalBar, verticalBar;
};

bool SamePixels(const Picture& a, const Picture& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::equal(a.Pixels(), a.Pixels() + a.PixelCount(), b.Pixels());
}

// Large pictures are rendered off the interface thread: the window goes on, edits made
// meanwhile are rendered once it is done, commands that need the picture wait for it, and a
// window closed meanwhile waits for it too.
TEST_F(ViewTest, LargePicturesRenderOffTheInterfaceThread) {
    struct Restore {
        int64_t n = CFacettaView::s_nWorkerRenderPixels;
        ~Restore() { CFacettaView::s_nWorkerRenderPixels = n; }
    } restore;
    CFacettaView::s_nWorkerRenderPixels = 400 * 300;  // small pictures keep the test quick
    CFacettaView* view = MakeView(400, 300);
    QSignalSpy variants(view, &CFacettaView::variantChanged);
    ImageSettings s = view->m_settings;
    s.nWidth = 900;
    s.nHeight = 700;
    view->ApplySettings(&s);
    ASSERT_TRUE(view->IsRendering());
    EXPECT_FALSE(view->m_pPicture);              // nothing to show yet but the generating text
    s.crPolyColor = RGBColor(0x12, 0x34, 0x56);  // same mesh
    view->ApplySettings(&s);
    s.nWidth = 1000;  // a new mesh
    view->ApplySettings(&s);
    EXPECT_EQ(view->m_pPicture, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!view->IsRendering() && view->m_pPicture, 20000);
    EXPECT_EQ(view->m_pPicture->Width(), 1000);
    EXPECT_TRUE(SamePixels(*view->m_pPicture, RenderPicture(s, view->m_mesh, nullptr)));
    EXPECT_EQ(view->GetVariants().size(), 2u);
    EXPECT_EQ(variants.count(), 2);

    // Saved while the next picture renders: the file holds that picture.
    QTemporaryDir dir;
    s.crPolyColor = RGBColor(0x65, 0x43, 0x21);
    view->ApplySettings(&s);
    ASSERT_TRUE(view->IsRendering());
    EXPECT_EQ(view->m_pPicture->Width(), 1000);  // the last one stays on screen meanwhile
    nextChoice = dir.filePath(QStringLiteral("during.png"));
    view->OnSavePicture();
    EXPECT_FALSE(view->IsRendering());
    Picture expected = RenderPicture(s, view->m_mesh, nullptr);
    expected.SetResolution(static_cast<float>(s.nResolution), static_cast<float>(s.nResolution));
    QByteArray expectedBytes;
    ASSERT_EQ(EncodePngToMemory(expected, expectedBytes), Status::Ok);
    QFile saved(nextChoice);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), expectedBytes);
    EXPECT_TRUE(messages.empty());

    // A new size shows no stretched old picture meanwhile; closed while it renders.
    s.nWidth = 1100;
    view->ApplySettings(&s);
    ASSERT_TRUE(view->IsRendering());
    EXPECT_FALSE(view->m_pPicture);
    views.clear();
}

// A new mesh asked for while a picture renders is still made when a new background path
// comes in meanwhile (the path once reset what was waiting, and the mesh no longer fitted the
// settings).
TEST_F(ViewTest, NewMeshAskedForMeanwhileSurvivesANewBackgroundPath) {
    struct Restore {
        int64_t n = CFacettaView::s_nWorkerRenderPixels;
        ~Restore() { CFacettaView::s_nWorkerRenderPixels = n; }
    } restore;
    CFacettaView::s_nWorkerRenderPixels = 400 * 300;
    CFacettaView* view = MakeView(400, 300);
    ImageSettings s = view->m_settings;
    s.nWidth = 900;
    s.nHeight = 700;
    s.nPolySize = 60;
    view->ApplySettings(&s);
    ASSERT_TRUE(view->IsRendering());
    s.nPolySize = 30;  // a new mesh, waiting for the render
    view->ApplySettings(&s);
    QTemporaryDir dir;
    s.SetBackImagePath(dir.filePath(QStringLiteral("none.png")).toStdU16String());
    view->ApplySettings(&s);
    view->FinishRender();
    EXPECT_EQ(view->m_mesh.nCellWidth, 30);
    EXPECT_EQ(view->GetVariants().size(), 2u);
}

// Scroll-area size and draw position for fitted and zoomed pictures. With a scroll bar the
// client shrinks by the bar, and everything is computed again for the smaller client.
TEST_F(ViewTest, DisplaySizeScrollAreaAndDrawPosition) {
    const ScrollCase cases[] = {
        {"fit 800x600", 1920, 1080, -1.0f, 800, 600, 800, 450, false, false},
        {"fit 800x300", 1920, 1080, -1.0f, 800, 300, 533, 300, false, false},
        {"fit small picture", 300, 200, -1.0f, 800, 600, 300, 200, false, false},
        {"zoom 50%", 1920, 1080, 0.5f, 800, 600, 960, 540, true, false},
        {"zoom 100%", 1920, 1080, 1.0f, 800, 600, 1920, 1080, true, true},
        {"zoom 200%", 400, 300, 2.0f, 800, 600, 800, 600, false, false},
    };
    for (const ScrollCase& c : cases) {
        SCOPED_TRACE(c.name);
        CFacettaView* view = MakeView(c.clientW, c.clientH);
        Apply(view, [&](ImageSettings& s) {
            s.nWidth = c.pictureW;
            s.nHeight = c.pictureH;
            s.nBackMode = kBackSolid;
            s.crBackColor = RGBColor(200, 40, 40);
        });
        FinishFade(view);
        QApplication::processEvents();
        // As the zoom box does it: no repaint asked for, the new size shows all the same.
        view->m_fZoom = c.zoom;
        view->UpdateScrollSizes(false);
        QApplication::processEvents();

        EXPECT_EQ(view->m_nDisplayWidth, c.displayW);
        EXPECT_EQ(view->m_nDisplayHeight, c.displayH);
        EXPECT_EQ(view->horizontalScrollBar()->isVisible(), c.horizontalBar);
        EXPECT_EQ(view->verticalScrollBar()->isVisible(), c.verticalBar);
        const QSize client = view->viewport()->size();
        const QSize area(std::max(c.displayW, client.width()),
                         std::max(c.displayH, client.height()));
        EXPECT_EQ(view->GetScrollAreaSize(), area);
        EXPECT_EQ(view->horizontalScrollBar()->maximum(), area.width() - client.width());
        EXPECT_EQ(view->verticalScrollBar()->maximum(), area.height() - client.height());
        EXPECT_EQ(view->horizontalScrollBar()->pageStep(), area.width() / 10);
        const QRect expected((area.width() - c.displayW) / 2, (area.height() - c.displayH) / 2,
                             c.displayW, c.displayH);
        EXPECT_EQ(view->GetPictureRect(), expected);

        // On screen: white around the picture, picture inside its rectangle.
        if (!c.horizontalBar && !c.verticalBar) {
            const QImage shot = Grab(view);
            EXPECT_FALSE(IsWhite(shot.pixel(expected.left(), expected.top())));
            EXPECT_FALSE(IsWhite(shot.pixel(expected.right(), expected.bottom())));
            if (expected.left() > 0) {
                EXPECT_TRUE(IsWhite(shot.pixel(expected.left() - 1, expected.center().y())));
            }
            if (expected.top() > 0) {
                EXPECT_TRUE(IsWhite(shot.pixel(expected.center().x(), expected.top() - 1)));
            }
            if (expected.bottom() + 1 < shot.height()) {
                EXPECT_TRUE(IsWhite(shot.pixel(expected.center().x(), expected.bottom() + 1)));
            }
        }
    }
}

// The draw positions in the named cases.
TEST_F(ViewTest, FittedPicturePositions) {
    CFacettaView* view = MakeView(800, 600);
    view->OnGeneratePreview();
    EXPECT_EQ(view->GetPictureRect(), QRect(0, 75, 800, 450));
    view->resize(800, 300);
    QApplication::processEvents();
    EXPECT_EQ(view->GetPictureRect(), QRect(133, 0, 533, 300));
    view->resize(800, 600);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 300;
        s.nHeight = 200;
    });
    EXPECT_EQ(view->GetPictureRect(), QRect(250, 200, 300, 200));
}

// Scrolling shows the matching part of the picture: at zoom 100% the screen pixels are the
// picture's own.
TEST_F(ViewTest, ScrolledViewShowsThePictureAtTheScrollPosition) {
    CFacettaView* view = MakeView(400, 300);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 1200;
        s.nHeight = 900;
        s.nLineOpacity = 100;
    });
    FinishFade(view);
    view->m_fZoom = 1.0f;
    view->UpdateScrollSizes(true);
    view->horizontalScrollBar()->setValue(500);
    view->verticalScrollBar()->setValue(400);
    QApplication::processEvents();
    const QImage shot = Grab(view);
    const Picture& pic = *view->m_pPicture;
    int worst = 0;
    for (int y = 0; y < shot.height(); y += 7)
        for (int x = 0; x < shot.width(); x += 7)
            worst = std::max(worst, MaxChannelDiff(shot.pixel(x, y), pic.Pixel(500 + x, 400 + y)));
    EXPECT_EQ(worst, 0);
}

// Fitted, the screen shows the picture area-averaged down to the display size.
TEST_F(ViewTest, ReducedPictureIsTheAreaAverage) {
    for (const QSize size : {QSize(1920, 1080), QSize(3840, 2160), QSize(7680, 4320)}) {
        SCOPED_TRACE(size.width());
        CFacettaView* view = MakeView(800, 600);
        Apply(view, [&](ImageSettings& s) {
            s.nWidth = size.width();
            s.nHeight = size.height();
            s.nLineOpacity = 100;  // fine, high-contrast detail
            s.nPolySize = 50;
        });
        FinishFade(view);
        QApplication::processEvents();
        const QImage shot = Grab(view);
        const QRect r = view->GetPictureRect();
        Picture expected = Picture::Create(r.width(), r.height());
        std::fill_n(expected.Pixels(), expected.PixelCount(), 0u);
        const Picture& pic = *view->m_pPicture;
        DrawPicture(expected, pic, RectI{0, 0, pic.Width(), pic.Height()},
                    RectF{0, 0, double(r.width()), double(r.height())});
        double sum = 0;
        int worst = 0;
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x) {
                const int d =
                    MaxChannelDiff(shot.pixel(r.x() + x, r.y() + y), expected.Pixel(x, y));
                worst = std::max(worst, d);
                sum += d;
            }
        // Rounding only; sampling without averaging is off by tens of levels on average here.
        EXPECT_LE(worst, 2);
        EXPECT_LE(sum / (r.width() * r.height()), 1.0);
    }
}

// A translucent picture (none is rendered so, but the view holds any picture) is reduced with
// its alpha and shown over white.
TEST_F(ViewTest, TranslucentPictureIsShownOverWhite) {
    CFacettaView* view = MakeView(400, 300);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 1600;
        s.nHeight = 1200;
    });
    FinishFade(view);
    Picture translucent = Picture::Create(1600, 1200);
    for (int y = 0; y < 1200; ++y)
        for (int x = 0; x < 1600; ++x)
            translucent.Row(y)[x] = (x / 2 + y / 2) % 2 ? 0x80FF0000u : 0xFFFF0000u;
    view->m_pPicture = std::make_unique<Picture>(std::move(translucent));
    view->UpdateScrollSizes(true);
    const QImage shot = Grab(view);
    // Checks of 2 pixels, reduced by 4: every screen pixel averages alphas 255 and 128 evenly.
    const QRgb c = shot.pixel(view->GetPictureRect().center());
    EXPECT_EQ(qRed(c), 255);
    EXPECT_NEAR(qGreen(c), 255 - (255 + 128) / 2, 2);
    EXPECT_NEAR(qBlue(c), 255 - (255 + 128) / 2, 2);
}

TEST_F(ViewTest, StartTimerPostsTheFirstGeneration) {
    CFacettaView::s_bFirstView = true;
    CFacettaView* first = MakeView();
    CFacettaView* second = MakeView();
    first->OnInitialUpdate();
    second->OnInitialUpdate();
    auto* t1 = first->findChild<QTimer*>(QStringLiteral("startTimer"));
    auto* t2 = second->findChild<QTimer*>(QStringLiteral("startTimer"));
    ASSERT_TRUE(t1 && t2);
    EXPECT_TRUE(t1->isActive());
    EXPECT_EQ(t1->interval(), 500);
    EXPECT_EQ(t2->interval(), 100);
    EXPECT_FALSE(CFacettaView::s_bFirstView);

    // Until the first picture: the text, centred.
    const QImage waiting = Grab(first);
    QRect ink;
    for (int y = 0; y < waiting.height(); ++y)
        for (int x = 0; x < waiting.width(); ++x)
            if (!IsWhite(waiting.pixel(x, y))) ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), 400, 3);
    EXPECT_NEAR(ink.center().y(), 300, 3);

    // The tick only posts the command; the picture comes from the event loop.
    first->OnTimer(CFacettaView::kStartTimer);
    EXPECT_FALSE(t1->isActive());
    EXPECT_FALSE(first->m_pPicture);
    QApplication::processEvents();
    ASSERT_TRUE(first->m_pPicture);
    EXPECT_EQ(first->m_nFadeAlpha, 10);

    // A settings change came first: the tick makes nothing more.
    Apply(second, [](ImageSettings& s) { s.crPolyColor = RGBColor(0, 0, 255); });
    const Picture* made = second->m_pPicture.get();
    second->OnTimer(CFacettaView::kStartTimer);
    QApplication::processEvents();
    EXPECT_EQ(second->m_pPicture.get(), made);
    EXPECT_FALSE(t2->isActive());
}

TEST_F(ViewTest, FirstPictureFadesInOnceOverTenTicks) {
    CFacettaView* view = MakeView();
    auto* fade = view->findChild<QTimer*>(QStringLiteral("fadeTimer"));
    ASSERT_TRUE(fade);
    EXPECT_EQ(view->m_nFadeAlpha, 0);
    view->OnGeneratePreview();
    EXPECT_TRUE(fade->isActive());
    EXPECT_EQ(fade->interval(), 100);
    // The ticks are driven by hand below: a slow render (as under sanitizers) must not let
    // the real timer tick in between.
    fade->setInterval(24 * 3600 * 1000);

    // At level 10 the picture is a faint tint over white.
    QApplication::processEvents();
    const QPoint probe = view->GetPictureRect().center();
    const QImage faint = Grab(view);

    std::vector<int> levels{view->m_nFadeAlpha};
    while (fade->isActive() && levels.size() < 20) {
        view->OnTimer(CFacettaView::kFadeTimer);
        levels.push_back(view->m_nFadeAlpha);
    }
    EXPECT_EQ(levels, (std::vector<int>{10, 35, 60, 85, 110, 135, 160, 185, 210, 235, 260}));
    // The same picture, now opaque: the faint frame was it at alpha 10 over white.
    QApplication::processEvents();
    const QImage full = Grab(view);
    const QRgb f = full.pixel(probe), w = faint.pixel(probe);
    for (int ch = 0; ch < 3; ++ch) {
        const int fc = (f >> (8 * ch)) & 0xFF, wc = (w >> (8 * ch)) & 0xFF;
        EXPECT_NEAR(wc, 255 - (255 - fc) * 10 / 255.0, 2.0) << "channel " << ch;
    }

    // A regeneration during the fade does not restart it.
    CFacettaView* other = MakeView();
    auto* otherFade = other->findChild<QTimer*>(QStringLiteral("fadeTimer"));
    other->OnGeneratePreview();
    otherFade->setInterval(24 * 3600 * 1000);
    for (int i = 0; i < 3; ++i) other->OnTimer(CFacettaView::kFadeTimer);
    other->OnGeneratePreview();
    EXPECT_EQ(other->m_nFadeAlpha, 85);
    EXPECT_TRUE(otherFade->isActive());

    // Later pictures show at once.
    view->OnGeneratePreview();
    EXPECT_EQ(view->m_nFadeAlpha, 260);
    EXPECT_FALSE(fade->isActive());
}

struct MeshCase {
    const char* field;
    void (*change)(ImageSettings&);
    bool newMesh;
};

TEST_F(ViewTest, SettingsChangesKeepOrRebuildTheMesh) {
    const MeshCase cases[] = {
        {"polygon colour", [](ImageSettings& s) { s.crPolyColor = RGBColor(10, 20, 30); }, false},
        {"background mode", [](ImageSettings& s) { s.nBackMode = kBackTopBottom; }, false},
        {"background colour", [](ImageSettings& s) { s.crBackColor = RGBColor(1, 2, 3); }, false},
        {"gradient colours", [](ImageSettings& s) { s.crGradColor2 = RGBColor(9, 9, 9); }, false},
        {"outline",
         [](ImageSettings& s) {
             s.nLineOpacity = 80;
             s.crLineColor = 0;
         },
         false},
        {"quality", [](ImageSettings& s) { s.nQuality = 40; }, false},
        {"width", [](ImageSettings& s) { s.nWidth = 1000; }, true},
        {"height", [](ImageSettings& s) { s.nHeight = 700; }, true},
        {"resolution", [](ImageSettings& s) { s.nResolution = 96; }, true},
        {"polygon size", [](ImageSettings& s) { s.nPolySize = 100; }, true},
        {"start opacity", [](ImageSettings& s) { s.nStartOpacity = 7; }, true},
        {"end opacity", [](ImageSettings& s) { s.nEndOpacity = 60; }, true},
    };
    CFacettaView* view = MakeView();
    view->OnGeneratePreview();
    for (const MeshCase& c : cases) {
        SCOPED_TRACE(c.field);
        const PolygonMesh before = view->m_mesh;
        Apply(view, c.change);
        EXPECT_NE(view->m_pPicture.get(), nullptr);
        bool same = view->m_mesh.nSeed == before.nSeed &&
                    view->m_mesh.pVertices.size() == before.pVertices.size();
        for (size_t i = 0; same && i < before.pVertices.size(); ++i)
            same = view->m_mesh.pVertices[i].x == before.pVertices[i].x &&
                   view->m_mesh.pVertices[i].y == before.pVertices[i].y;
        EXPECT_EQ(!same, c.newMesh);
    }
    // The picture is rendered from the new settings.
    EXPECT_EQ(view->m_pPicture->Width(), 1000);
    EXPECT_EQ(view->m_pPicture->Height(), 700);
}

TEST_F(ViewTest, BackgroundPictureFollowsThePath) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("Back.png"));
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(Qt::green);
    ASSERT_TRUE(img.save(good));
    const QString broken = dir.filePath(QStringLiteral("broken.png"));
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\x89PNG\r\n\x1a\n not really a picture");
    }
    auto setPath = [&](CFacettaView* view, const QString& path) {
        Apply(view, [&](ImageSettings& s) { s.SetBackImagePath(path.toStdU16String()); });
        // Decoded off the interface thread; the picture follows through the event loop.
        EXPECT_TRUE(QTest::qWaitFor([view] { return !view->IsLoadingBackground(); }, 20000));
    };

    CFacettaView* view = MakeView();
    setPath(view, good);
    ASSERT_TRUE(view->m_pBackImage);
    EXPECT_EQ(view->m_pBackImage->Width(), 64);
    // Covered by the background picture: green shows through the faint triangles.
    EXPECT_GT(qGreen(view->m_pPicture->Pixel(5, 5)), 100);

    // Paths differing only in case are different files here: each switch shows its own.
    const QString lower = dir.filePath(QStringLiteral("back.png"));
    QImage blue(32, 24, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    ASSERT_TRUE(blue.save(lower));
    setPath(view, lower);
    ASSERT_TRUE(view->m_pBackImage);
    EXPECT_EQ(view->m_pBackImage->Pixel(0, 0), 0xFF0000FFu);
    setPath(view, good);
    ASSERT_TRUE(view->m_pBackImage);
    EXPECT_EQ(view->m_pBackImage->Pixel(0, 0), 0xFF00FF00u);
    // The same path keeps the picture even when the file changed on disk.
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(good));
    setPath(view, good);
    ASSERT_TRUE(view->m_pBackImage);
    EXPECT_EQ(view->m_pBackImage->Pixel(0, 0), 0xFF00FF00u);

    const struct {
        const char* name;
        QString path;
    } dropped[] = {
        {"empty", QString()},
        {"missing file", dir.filePath(QStringLiteral("none.png"))},
        {"broken file", broken},
        {"folder", dir.path()},
    };
    for (const auto& c : dropped) {
        SCOPED_TRACE(c.name);
        setPath(view, good);
        setPath(view, QStringLiteral("/elsewhere/x.png"));  // make the next path a change
        setPath(view, good);
        ASSERT_TRUE(view->m_pBackImage);
        setPath(view, c.path);
        EXPECT_FALSE(view->m_pBackImage);
        EXPECT_TRUE(view->m_pPicture && !view->m_pPicture->IsNull());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewTest, MeshWithoutMemoryKeepsThePreviousPicture) {
    CFacettaView* view = MakeView();
    view->OnGeneratePreview();
    const Picture* previous = view->m_pPicture.get();
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 100000;
        s.nPolySize = 1;
    });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("内存不足。"));
    EXPECT_EQ(view->m_pPicture.get(), previous);
    EXPECT_TRUE(view->m_mesh.IsEmpty());
    EXPECT_EQ(view->m_pPicture->Width(), 1920);
    // The empty mesh makes the next picture generate again.
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 1000;
        s.nPolySize = 0;
    });
    EXPECT_FALSE(view->m_mesh.IsEmpty());
    EXPECT_EQ(view->m_pPicture->Width(), 1000);
    EXPECT_EQ(messages.size(), 1u);
}

// A picture too large to hold shows the white area alone.
TEST_F(ViewTest, PictureWithoutPixelsShowsWhite) {
    CFacettaView* view = MakeView(400, 300);
    const size_t oldMax = Picture::MaxBytes();
    Picture::SetMaxBytes(1000);
    view->OnGeneratePreview();
    Picture::SetMaxBytes(oldMax);
    ASSERT_TRUE(view->m_pPicture);
    EXPECT_TRUE(view->m_pPicture->IsNull());
    FinishFade(view);
    QApplication::processEvents();
    const QImage shot = Grab(view);
    for (int y = 0; y < shot.height(); y += 5)
        for (int x = 0; x < shot.width(); x += 5) ASSERT_TRUE(IsWhite(shot.pixel(x, y)));
    EXPECT_TRUE(messages.empty());
}

// A printed page shows what the screen shows, one device pixel per screen pixel, top-left.
TEST_F(ViewTest, PrintedPageMatchesTheScreen) {
    CFacettaView* view = MakeView(500, 400);
    for (bool withPicture : {false, true}) {
        SCOPED_TRACE(withPicture ? "picture" : "generating");
        if (withPicture) {
            view->OnGeneratePreview();
            FinishFade(view);
            QApplication::processEvents();
        }
        const QImage screen = Grab(view);
        QImage page(1200, 1600, QImage::Format_RGB32);
        page.fill(Qt::gray);
        {
            QPainter painter(&page);
            view->PaintPage(painter, QRect(0, 0, 1200, 1600));
        }
        int worst = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                worst = std::max(worst, MaxChannelDiff(screen.pixel(x, y), page.pixel(x, y)));
        EXPECT_LE(worst, 1);
        // Nothing beyond the scroll area.
        EXPECT_EQ(page.pixel(600, 100), QColor(Qt::gray).rgb());
        EXPECT_EQ(page.pixel(100, 500), QColor(Qt::gray).rgb());
    }
}

TEST_F(ViewTest, PrintsToAPrinterAndPreviews) {
    CFacettaView* view = MakeView(300, 200);
    view->OnGeneratePreview();
    FinishFade(view);
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("page.pdf")));
    ASSERT_TRUE(view->PrintTo(printer));
    QFile pdf(printer.outputFileName());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");

    int pages = -1;
    CFacettaView::s_fnExecDialog = [&](QDialog& dialog) {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(&dialog);
        if (!preview) return int(QDialog::Rejected);
        preview->show();
        QApplication::processEvents();
        if (auto* widget = preview->findChild<QPrintPreviewWidget*>()) pages = widget->pageCount();
        preview->close();
        return int(QDialog::Accepted);
    };
    view->OnFilePrintPreview();
    EXPECT_EQ(pages, 1);
    EXPECT_TRUE(messages.empty());

    // Through the print dialog: cancelled prints nothing; accepted prints where it was told.
    const QString chosen = dir.filePath(QStringLiteral("dialog.pdf"));
    bool accept = false;
    CFacettaView::s_fnExecDialog = [&](QDialog& dialog) {
        auto* print = qobject_cast<QPrintDialog*>(&dialog);
        if (!print || !accept) return int(QDialog::Rejected);
        print->printer()->setOutputFormat(QPrinter::PdfFormat);
        print->printer()->setOutputFileName(chosen);
        return int(QDialog::Accepted);
    };
    view->OnFilePrint();
    EXPECT_FALSE(QFile::exists(chosen));
    accept = true;
    view->OnFilePrint();
    EXPECT_GT(QFileInfo(chosen).size(), 0);
    EXPECT_TRUE(messages.empty());

    // The choice made in the dialog stays for the next print, as a printer set-up would.
    ASSERT_TRUE(QFile::remove(chosen));
    view->OnFilePrintDirect();
    EXPECT_GT(QFileInfo(chosen).size(), 0);
    EXPECT_TRUE(messages.empty());

    // Printing straight to a printer that is not there is reported, not passed over.
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        CPrintHelper::SharedPrinter().setOutputFileName(QString());
        CPrintHelper::SharedPrinter().setOutputFormat(QPrinter::NativeFormat);
        view->OnFilePrintDirect();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, QStringLiteral("命令失败。"));
        EXPECT_EQ(messages[0].caption, QStringLiteral("Facetta"));
    }
}

// The background picture is scaled once per frame size and kept: every picture still equals one
// rendered from scratch, after edits that keep it, a new background picture and a new size.
TEST_F(ViewTest, KeptBackgroundPictureGivesTheSamePictures) {
    QTemporaryDir dir;
    auto picture = [&](const char* name, QColor colour, int w, int h) {
        QImage img(w, h, QImage::Format_ARGB32);
        img.fill(colour);
        for (int y = 0; y < h; ++y) img.setPixel(y % w, y, qRgba(250, 250, 0, colour.alpha()));
        const QString path = dir.filePath(QString::fromUtf8(name));
        EXPECT_TRUE(img.save(path));
        return path;
    };
    const QString first = picture("a.png", Qt::blue, 300, 170);
    const QString second = picture("b.png", QColor(0, 200, 0, 160), 50, 40);
    CFacettaView* view = MakeView();
    auto expectFresh = [&](const char* step) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(QTest::qWaitFor([view] { return !view->IsLoadingBackground(); }, 20000));
        ASSERT_TRUE(view->m_pBackImage && view->m_pPicture);
        const Picture fresh =
            RenderPicture(view->m_settings, view->m_mesh, view->m_pBackImage.get());
        const Picture& shown = *view->m_pPicture;
        ASSERT_EQ(shown.PixelCount(), fresh.PixelCount());
        EXPECT_TRUE(
            std::equal(shown.Pixels(), shown.Pixels() + shown.PixelCount(), fresh.Pixels()));
    };
    Apply(view, [&](ImageSettings& s) {
        s.nWidth = 640;
        s.nHeight = 360;
        s.SetBackImagePath(first.toStdU16String());
    });
    expectFresh("first background");
    Apply(view, [](ImageSettings& s) { s.crPolyColor = RGBColor(200, 0, 0); });
    expectFresh("colour changed");
    Apply(view, [&](ImageSettings& s) { s.SetBackImagePath(second.toStdU16String()); });
    expectFresh("another background");
    Apply(view, [](ImageSettings& s) { s.nBackMode = 3; });
    expectFresh("gradient under a translucent background");
    Apply(view, [](ImageSettings& s) { s.nWidth = 500; });
    expectFresh("another size");
}

}  // namespace
