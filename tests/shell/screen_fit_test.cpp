// "适应屏幕" and "适应所有屏幕" on made-up screens: the offscreen platform takes its screens from a
// file. Run once per layout, and once more under QT_SCALE_FACTOR=2, which must change nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>

#include "child_frame.h"
#include "commands.h"
#include "facetta_app.h"
#include "facetta_view.h"
#include "main_frame.h"
#include "my_int_property.h"
#include "properties_wnd.h"
#include "property_value_text.h"

namespace {

struct Layout {
    const char* name;
    const char* json;           // the offscreen platform's screens
    QList<QSize> screenPixels;  // what "适应屏幕" gives on each screen
    QSize allPixels;            // what "适应所有屏幕" gives
};

const Layout kLayouts[] = {
    // A 2560 x 1440 monitor with a 1920 x 1080 one to its right.
    {"two",
     R"({"screens": [
         {"name": "DP-1", "x": 0, "y": 0, "width": 2560, "height": 1440, "logicalDpi": 96, "dpr": 1},
         {"name": "HDMI-1", "x": 2560, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "dpr": 1}]})",
     {QSize(2560, 1440), QSize(1920, 1080)},
     QSize(4480, 1440)},
    // A 2560 x 1600 panel at 200 %: 1280 x 800 to the programs, 2560 x 1600 pixels.
    {"hidpi",
     R"({"screens": [
         {"name": "eDP-1", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "dpr": 2}]})",
     {QSize(2560, 1600)},
     QSize(2560, 1600)},
    // The real X11 platform on an Xvfb screen of 2560 x 1440 (ctest starts it).
    {"xvfb", nullptr, {QSize(2560, 1440)}, QSize(2560, 1440)},
};

const Layout* g_pLayout = nullptr;

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

void ExpectSize(CMainFrame& frame, QSize expected, const char* what) {
    CFacettaView* pView = frame.GetActivePreviewView();
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(QSize(pView->m_settings.nWidth, pView->m_settings.nHeight), expected) << what;
    ASSERT_TRUE(pView->m_pPicture);
    EXPECT_EQ(QSize(pView->m_pPicture->Width(), pView->m_pPicture->Height()), expected) << what;
    CPropertiesWnd* pPane = frame.m_wndProperties;
    EXPECT_EQ(GetValueText(pPane->m_pPropWidth), QString::number(expected.width())) << what;
    EXPECT_EQ(GetValueText(pPane->m_pPropHeight), QString::number(expected.height())) << what;
}

}  // namespace

TEST(FitScreen, PhysicalPixelsOfTheWindowsScreenAndOfAllScreens) {
    ASSERT_EQ(QGuiApplication::screens().size(), g_pLayout->screenPixels.size())
        << "the offscreen platform did not take the screen file";
    CFacettaApp app;
    app.m_fnShiftHeld = [] { return false; };
    ASSERT_TRUE(app.InitInstance({}));
    CMainFrame& frame = *app.GetMainFrame();
    QApplication::setActiveWindow(&frame);
    Settle();
    CFacettaView* pView = frame.GetActivePreviewView();
    ASSERT_NE(pView, nullptr);
    QAction* pFit = frame.GetCommand(ID_FIT_SCREEN);
    QAction* pFitAll = frame.GetCommand(ID_FIT_ALL_SCREENS);
    ASSERT_TRUE(pFit && pFit->isEnabled());
    ASSERT_TRUE(pFitAll && pFitAll->isEnabled());

    const QList<QScreen*> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        frame.windowHandle()->setScreen(screens[i]);
        Settle();
        ASSERT_EQ(pView->screen(), screens[i]);
        pFit->trigger();
        ExpectSize(frame, g_pLayout->screenPixels[i], "fit screen");
        // Back to a typed size in between, so each step is seen to change it.
        frame.m_wndProperties->ApplyPictureSize(800, 600);
        pFitAll->trigger();
        ExpectSize(frame, g_pLayout->allPixels, "fit all screens");
        frame.m_wndProperties->ApplyPictureSize(800, 600);
    }
    frame.close();
    Settle();
}

// The program's "设为桌面背景" on GNOME (keys in GSettings' keyfile store, read back with
// gsettings): a picture the size of all screens together is spanned, one screen's is zoomed.
TEST(SetWallpaper, FromTheProgramSpansAnAllScreensPicture) {
    CFacettaApp app;
    app.m_fnShiftHeld = [] { return false; };
    ASSERT_TRUE(app.InitInstance({}));
    CMainFrame& frame = *app.GetMainFrame();
    QApplication::setActiveWindow(&frame);
    Settle();
    QStringList messages;
    QList<QMessageBox::Icon> icons;
    CFacettaView::s_fnMessageBox = [&](QWidget*, QMessageBox::Icon icon, const QString&,
                                       const QString& text) {
        icons << icon;
        messages << text;
    };
    auto gsettings = [](const char* key) {
        QProcess p;
        p.start(QStringLiteral("gsettings"),
                {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.background"),
                 QLatin1String(key)});
        p.waitForFinished();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed().remove(QLatin1Char('\''));
    };
    const bool bSeveral = QGuiApplication::screens().size() > 1;
    for (const bool bAll : {false, true}) {
        frame.GetCommand(bAll ? ID_FIT_ALL_SCREENS : ID_FIT_SCREEN)->trigger();
        frame.GetCommand(ID_SET_WALLPAPER)->trigger();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(icons.first(), QMessageBox::Information) << messages.first().toStdString();
        EXPECT_TRUE(messages.first().contains(QLatin1String("GNOME")))
            << messages.first().toStdString();
        const QString path = QUrl(gsettings("picture-uri")).toLocalFile();
        EXPECT_TRUE(messages.first().contains(path)) << messages.first().toStdString();
        const CFacettaView* pView = frame.GetActivePreviewView();
        EXPECT_EQ(QImageReader(path).size(),
                  QSize(pView->m_settings.nWidth, pView->m_settings.nHeight));
        EXPECT_EQ(gsettings("picture-options"),
                  bAll && bSeveral ? QStringLiteral("spanned") : QStringLiteral("zoom"));
        messages.clear();
        icons.clear();
    }
    CFacettaView::s_fnMessageBox = nullptr;
    frame.close();
    Settle();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const QByteArray name = qgetenv("FACETTA_SCREEN_LAYOUT");
    for (const Layout& l : kLayouts)
        if (name == l.name) g_pLayout = &l;
    if (!g_pLayout) {
        std::fprintf(stderr, "FACETTA_SCREEN_LAYOUT must name a layout\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    if (g_pLayout->json) {
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly) || f.write(g_pLayout->json) < 0) return 1;
        f.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    }
    // The wallpaper goes to GNOME's keys in a store of this run's own.
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QStandardPaths::setTestModeEnabled(true);
    QApplication qapp(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    return RUN_ALL_TESTS();
}
