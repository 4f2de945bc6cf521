// The pane inside the real main window: it follows the active preview window.
#include <gtest/gtest.h>

#include <QMdiArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "child_frame.h"
#include "facetta_app.h"
#include "facetta_view.h"
#include "grid_driver.h"
#include "main_frame.h"
#include "my_color_property.h"
#include "my_int_property.h"
#include "properties_wnd.h"
#include "property_value_text.h"

namespace {

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

class MainWindowPaneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QStandardPaths::setTestModeEnabled(true);
        s_dir = new QTemporaryDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, s_dir->path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, s_dir->path());
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        app.m_fnShiftHeld = [] { return false; };
        ASSERT_TRUE(app.InitInstance({}));
        frame = app.GetMainFrame();
        ASSERT_NE(frame, nullptr);
        ShowActive(*frame);
        Settle();
    }
    void TearDown() override {
        if (frame) frame->close();
        Settle();
    }

    static QTemporaryDir* s_dir;
    CFacettaApp app;
    CMainFrame* frame = nullptr;
};
QTemporaryDir* MainWindowPaneTest::s_dir = nullptr;

TEST_F(MainWindowPaneTest, PaneFollowsTheActiveWindow) {
    CPropertiesWnd* pane = frame->m_wndProperties;
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(frame->dockWidgetArea(pane), Qt::RightDockWidgetArea);
    EXPECT_EQ(pane->windowTitle(), QString::fromUtf8("属性"));
    CPropertyGrid& grid = pane->PropList();

    CFacettaView* first = frame->GetActivePreviewView();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(pane->m_pPropResolution->GetIntValue(), first->m_settings.nResolution);
    EXPECT_EQ(pane->m_pPropBackColor->GetColor(), first->m_settings.crBackColor);

    CChildFrame* secondFrame = frame->OpenDocument("second");
    Settle();
    CFacettaView* second = frame->GetActivePreviewView();
    ASSERT_EQ(second, secondFrame->GetView());
    ASSERT_NE(second, first);
    EXPECT_EQ(pane->m_pPropGradColor2->GetColor(), second->m_settings.crGradColor2);

    TypeValue(grid, pane->m_pPropWidth, "800");
    EXPECT_EQ(second->m_settings.nWidth, 800);
    EXPECT_EQ(first->m_settings.nWidth, 1920);

    frame->GetMdiArea()->setActiveSubWindow(frame->GetChildFrames().front());
    Settle();
    ASSERT_EQ(frame->GetActivePreviewView(), first);
    EXPECT_EQ(pane->m_pPropWidth->GetIntValue(), 1920);
    EXPECT_EQ(pane->m_pPropGradColor2->GetColor(), first->m_settings.crGradColor2);

    frame->GetMdiArea()->setActiveSubWindow(secondFrame);
    Settle();
    EXPECT_EQ(pane->m_pPropWidth->GetIntValue(), 800);

    // With every window closed the list keeps the last values and edits go nowhere.
    frame->OnCloseAllWindows();
    Settle();
    ASSERT_EQ(frame->GetActivePreviewView(), nullptr);
    TypeValue(grid, pane->m_pPropHeight, "100");
    EXPECT_EQ(GetValueText(pane->m_pPropHeight), "100");
    EXPECT_EQ(GetValueText(pane->m_pPropWidth), "800");
}

TEST_F(MainWindowPaneTest, AnEditInProgressSurvivesTheWindowLosingAndRegainingFocus) {
    CPropertiesWnd* pane = frame->m_wndProperties;
    CPropertyEditor* editor = ClickValue(pane->PropList(), pane->m_pPropWidth);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(KeyTarget(editor), "1280");
    // What a modal dialog or another program does to the main window.
    emit frame->GetMdiArea()->subWindowActivated(nullptr);
    frame->OnActiveViewChanged();
    EXPECT_EQ(pane->PropList().CurrentEditor(), editor);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
    EXPECT_EQ(frame->GetActivePreviewView()->m_settings.nWidth, 1280);
}

}  // namespace
