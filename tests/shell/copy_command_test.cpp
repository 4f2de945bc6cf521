// The copy and About commands as the user reaches them through the main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "about_dlg.h"
#include "child_frame.h"
#include "clipboard_export.h"
#include "commands.h"
#include "facetta_app.h"
#include "facetta_view.h"
#include "main_frame.h"

namespace {

class ExtrasCommands : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(QApplication::instance(), nullptr);
        ASSERT_TRUE(m_dir.isValid());
        TheClipboardExport().strTempFolder = m_dir.path();
        m_app.m_fnShiftHeld = [] { return false; };
        ASSERT_TRUE(m_app.InitInstance({}));
        m_frame = m_app.GetMainFrame();
        ASSERT_NE(m_frame, nullptr);
        QApplication::setActiveWindow(m_frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame));
    }
    void TearDown() override {
        if (m_frame) m_frame->close();
        QCoreApplication::processEvents();
        TheClipboardExport().ReleaseClipboardPayloads();
        TheClipboardExport().strTempFolder.clear();
    }

    QTemporaryDir m_dir;
    CFacettaApp m_app;
    CMainFrame* m_frame = nullptr;
};

TEST_F(ExtrasCommands, CtrlCBeforeTheFirstPictureMakesOneAndCopiesIt) {
    CFacettaView* view = m_frame->GetActivePreviewView();
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->m_pPicture, nullptr);  // the start timer has not fired yet
    QGuiApplication::clipboard()->clear();

    QTest::keyClick(m_frame, Qt::Key_C, Qt::ControlModifier);

    ASSERT_NE(view->m_pPicture, nullptr);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    const QImage png = QImage::fromData(data->data("PNG"), "PNG");
    EXPECT_EQ(png.size(), QSize(view->m_settings.nWidth, view->m_settings.nHeight));
    EXPECT_EQ(png.pixel(17, 23), view->m_pPicture->Pixel(17, 23));
    EXPECT_TRUE(data->hasImage());
    EXPECT_TRUE(TheClipboardExport().szTempPath.startsWith(QDir::toNativeSeparators(m_dir.path())));
    EXPECT_EQ(data->data("HTML Format"), BuildHtmlPayload(TheClipboardExport().szTempPath));
}

TEST_F(ExtrasCommands, CopyFollowsTheActiveWindow) {
    CFacettaView* a = m_frame->GetActivePreviewView();
    ASSERT_NE(a, nullptr);
    m_frame->GetCommand(ID_COPY_PICTURE)->trigger();
    const QString fileA = TheClipboardExport().szTempPath;
    ASSERT_TRUE(QFileInfo::exists(fileA));

    m_frame->OnFileNew();
    QCoreApplication::processEvents();
    CFacettaView* b = m_frame->GetActivePreviewView();
    ASSERT_NE(b, a);
    m_frame->GetCommand(ID_COPY_PICTURE)->trigger();
    EXPECT_FALSE(QFileInfo::exists(fileA));
    const QImage png =
        QImage::fromData(QGuiApplication::clipboard()->mimeData()->data("PNG"), "PNG");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.pixel(5, 5), b->m_pPicture->Pixel(5, 5));
}

TEST_F(ExtrasCommands, AboutCommandShowsTheBoxModally) {
    QString caption, version;
    bool animating = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (!dlg) return;
        closer.stop();
        caption = dlg->windowTitle();
        version = static_cast<QLabel*>(dlg->GetDlgItem(CAboutDlg::IDC_ABOUT_VERSION))->text();
        animating =
            static_cast<CLowPolyBox*>(dlg->GetDlgItem(CAboutDlg::IDC_ABOUT_BANNER))->IsAnimating();
        dlg->reject();
    });
    closer.start(20);
    QAction* about = m_frame->GetCommand(ID_APP_ABOUT);
    ASSERT_TRUE(about->isEnabled());
    about->trigger();  // returns once the box is closed
    EXPECT_EQ(caption, QString::fromUtf8("关于 Facetta"));
    EXPECT_EQ(version, QStringLiteral("Facetta V1.0 (20170326)"));
    EXPECT_TRUE(animating);
}

}  // namespace
