// On a screen with two device pixels per pixel (QT_SCALE_FACTOR=2 on the offscreen platform):
// the preview shows picture pixels as device pixels, and the About banner is drawn at the
// device's resolution.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QTest>

#include <memory>

#include "facetta_doc.h"
#include "facetta_view.h"
#include "low_poly_box.h"
#include "picture_image.h"

namespace {

constexpr qreal kRatio = 2.0;

std::unique_ptr<CFacettaView> ShowView(CFacettaDoc& doc, int width, int height) {
    auto view = std::make_unique<CFacettaView>(&doc);
    view->resize(width, height);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    return view;
}

void Generate(CFacettaView& view, int nWidth, int nHeight, float fZoom) {
    ImageSettings s = view.m_settings;
    s.nWidth = nWidth;
    s.nHeight = nHeight;
    s.nPolySize = 50;
    s.crLineColor = RGBColor(255, 255, 255);
    s.nLineOpacity = 100;  // 1-pixel outlines: any resampling smears them
    view.ApplySettings(&s);
    view.m_nFadeAlpha = 260;
    view.m_fZoom = fZoom;
    view.UpdateScrollSizes(true);
}

// The viewport as the screen holds it, one pixel per device pixel.
QImage Screen(CFacettaView& view) {
    const QImage shot = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.devicePixelRatio(), kRatio);
    return shot;
}

// First place where the shot differs from `expected` placed at `at`, or an empty string.
std::string FirstDifference(const QImage& shot, const QImage& expected, QPoint at) {
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if ((shot.pixel(at.x() + x, at.y() + y) | 0xFF000000u) !=
                (expected.pixel(x, y) | 0xFF000000u))
                return "first difference at picture pixel " + std::to_string(x) + "," +
                       std::to_string(y);
    return {};
}

}  // namespace

TEST(HighDensity, ScreenReportsTwoDevicePixelsPerPixel) {
    QWidget w;
    w.resize(10, 10);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.devicePixelRatioF(), kRatio);
}

TEST(HighDensity, HundredPercentShowsEachPicturePixelAsOneDevicePixel) {
    CFacettaDoc doc;
    auto view = ShowView(doc, 400, 300);  // 800 x 600 device pixels
    Generate(*view, 300, 200, 1.0f);
    EXPECT_EQ(view->m_nDisplayWidth, 300);
    EXPECT_EQ(view->m_nDisplayHeight, 200);
    EXPECT_EQ(view->GetScrollAreaSize(), QSize(800, 600));
    const QImage shot = Screen(*view);
    ASSERT_EQ(shot.size(), QSize(800, 600));
    // Centred in device pixels, and every pixel the picture's own, outlines included.
    const QImage picture = PictureAsImage(*view->m_pPicture).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(FirstDifference(shot, picture, QPoint(250, 200)), "");
    EXPECT_EQ(shot.pixel(249, 200), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel(550, 399), qRgb(255, 255, 255));
}

TEST(HighDensity, FittedViewIsReducedStraightToDevicePixels) {
    CFacettaDoc doc;
    auto view = ShowView(doc, 400, 300);
    Generate(*view, 1920, 1080, -1.0f);
    // Fitted into 800 x 600 device pixels, not 400 x 300.
    EXPECT_EQ(view->m_nDisplayWidth, 800);
    EXPECT_EQ(view->m_nDisplayHeight, 450);
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    const QImage shot = Screen(*view);
    const QImage reduced = PictureAsImage(*view->m_pPicture)
                               .convertToFormat(QImage::Format_RGB32)
                               .scaled(800, 450, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_EQ(FirstDifference(shot, reduced, QPoint(0, 75)), "");
}

TEST(HighDensity, ZoomAndScrollStayInDevicePixels) {
    CFacettaDoc doc;
    auto view = ShowView(doc, 400, 300);
    Generate(*view, 1920, 1080, 1.0f);
    const QSize area = view->GetScrollAreaSize();
    EXPECT_EQ(area, QSize(1920, 1080));
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    const QImage shot = Screen(*view);
    // The bottom-right corner of the picture lands in the bottom-right device pixel.
    const QImage picture = PictureAsImage(*view->m_pPicture).convertToFormat(QImage::Format_RGB32);
    const QSize client = shot.size();
    const QImage corner =
        picture.copy(QRect(QPoint(1920 - client.width(), 1080 - client.height()), client));
    EXPECT_EQ(FirstDifference(shot, corner, QPoint(0, 0)), "");
}

TEST(HighDensity, AboutBannerIsDrawnAtDeviceResolution) {
    CLowPolyBox box;
    box.resize(300, 60);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QImage shot = box.grab().toImage();
    EXPECT_EQ(box.Core().m_nWidth, 600);
    EXPECT_EQ(box.Core().m_nHeight, 120);
    ASSERT_NE(box.Core().Frame(), nullptr);
    const QImage frame = PictureAsImage(*box.Core().Frame()).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(FirstDifference(shot.convertToFormat(QImage::Format_RGB32), frame, QPoint(0, 0)), "");
}

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
