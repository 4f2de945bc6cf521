// The interface's language: which one a user's locale gets, and the program's and Qt's own
// texts in each, read from the real widgets.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include "about_dlg.h"
#include "child_frame.h"
#include "commands.h"
#include "facetta_app.h"
#include "facetta_doc.h"
#include "main_frame.h"
#include "my_int_property.h"
#include "properties_wnd.h"
#include "ui_language.h"

namespace {

QString U(const char* psz) {
    return QString::fromUtf8(psz);
}

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// What a started program shows in a few places.
struct Shown {
    QStringList menus;
    QString newCommand, newPrompt, idle, pane, tab, startOpacity, endOpacity, zoomFit;
    QString aboutTitle, aboutVersion, aboutOk, messageOk, fileDialogCancel;
};

Shown StartAndRead() {
    Shown shown;
    CFacettaApp app;
    app.m_fnShiftHeld = [] { return false; };
    EXPECT_TRUE(app.InitInstance({}));
    CMainFrame* frame = app.GetMainFrame();
    Settle();
    for (QAction* a : frame->menuBar()->actions()) shown.menus << a->text();
    shown.newCommand = frame->GetCommand(ID_FILE_NEW)->text();
    shown.newPrompt = frame->GetCommand(ID_FILE_NEW)->statusTip();
    shown.idle = frame->statusBar()->currentMessage();
    shown.pane = frame->m_wndProperties->windowTitle();
    shown.tab = frame->GetChildFrames().value(0)->GetDocument()->GetTitle();
    shown.startOpacity = frame->m_wndProperties->m_pPropStartOpacity->GetName();
    shown.endOpacity = frame->m_wndProperties->m_pPropEndOpacity->GetName();
    shown.zoomFit = frame->GetZoomBox()->itemText(0);

    CAboutDlg about(app.m_nVersion, frame);
    about.OnInitDialog();
    shown.aboutTitle = about.windowTitle();
    shown.aboutVersion =
        static_cast<QLabel*>(about.GetDlgItem(CAboutDlg::IDC_ABOUT_VERSION))->text();
    shown.aboutOk = static_cast<QPushButton*>(about.GetDlgItem(1))->text();

    QMessageBox box(QMessageBox::Critical, QStringLiteral("Facetta"), QStringLiteral("x"),
                    QMessageBox::Ok, frame);
    shown.messageOk = box.button(QMessageBox::Ok)->text();
    QFileDialog dialog(frame);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
        shown.fileDialogCancel = buttons->button(QDialogButtonBox::Cancel)->text();

    frame->close();
    Settle();
    return shown;
}

class Language : public ::testing::Test {
protected:
    void TearDown() override { RemoveUiLanguage(); }
};

}  // namespace

TEST(ChooseUiLanguage, ChineseForChineseAndNoLanguageEnglishForTheRest) {
    const struct {
        QStringList languages;
        UiLanguage expected;
    } cases[] = {
        {{"zh-CN", "zh-Hans-CN", "zh"}, UiLanguage::Chinese},
        {{"zh-TW", "zh-Hant-TW", "zh"}, UiLanguage::Chinese},
        {{"C"}, UiLanguage::Chinese},
        {{"POSIX"}, UiLanguage::Chinese},
        {{}, UiLanguage::Chinese},
        {{"en-US", "en-Latn-US", "en"}, UiLanguage::English},
        {{"en-GB"}, UiLanguage::English},
        {{"fr", "fr-Latn-FR", "fr-FR"}, UiLanguage::English},
        {{"ja-JP"}, UiLanguage::English},
        // LANGUAGE=fr:zh_CN: French is not offered, the user's next choice is.
        {{"fr", "fr-FR", "zh-CN", "zh"}, UiLanguage::Chinese},
        {{"de", "en", "zh"}, UiLanguage::English},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.languages.join(u',').toStdString());
        EXPECT_EQ(ChooseUiLanguage(c.languages), c.expected);
    }
}

TEST_F(Language, EnglishInterface) {
    ASSERT_TRUE(InstallUiLanguage(UiLanguage::English, {"en-US"}));
    const Shown shown = StartAndRead();
    EXPECT_EQ(shown.menus, QStringList({"&File", "&View", "&Window", "&Help"}));
    EXPECT_EQ(shown.newCommand, "&New\tCtrl+N");
    EXPECT_EQ(shown.newPrompt, "Create a new document");
    EXPECT_EQ(shown.idle, "Ready");
    EXPECT_EQ(shown.pane, "Properties");
    EXPECT_EQ(shown.tab, "Picture1");
    // The two rows that share a name in Chinese are told apart.
    EXPECT_EQ(shown.startOpacity, "Start opacity");
    EXPECT_EQ(shown.endOpacity, "End opacity");
    EXPECT_EQ(shown.zoomFit, "Fit window");
    EXPECT_EQ(shown.aboutTitle, "About Facetta");
    EXPECT_EQ(shown.aboutVersion, "Facetta V1.0 (20170326)");
    EXPECT_EQ(shown.aboutOk, "OK");
    EXPECT_EQ(shown.messageOk, "OK");
    EXPECT_EQ(shown.fileDialogCancel, "Cancel");
}

TEST_F(Language, ChineseInterfaceWithQtsOwnTextsInChinese) {
    // C and Chinese locales give the same: the texts as written, Qt's own in Chinese.
    for (const QStringList& languages : {QStringList{"zh-CN", "zh"}, QStringList{"C"}}) {
        SCOPED_TRACE(languages.join(u',').toStdString());
        ASSERT_EQ(ChooseUiLanguage(languages), UiLanguage::Chinese);
        ASSERT_TRUE(InstallUiLanguage(UiLanguage::Chinese, languages));
        const Shown shown = StartAndRead();
        EXPECT_EQ(shown.menus,
                  QStringList({U("文件(&F)"), U("视图(&V)"), U("窗口(&W)"), U("帮助(&H)")}));
        EXPECT_EQ(shown.newCommand, U("新建(&N)\tCtrl+N"));
        EXPECT_EQ(shown.newPrompt, U("创建新文档"));
        EXPECT_EQ(shown.idle, U("就绪"));
        EXPECT_EQ(shown.pane, U("属性"));
        EXPECT_EQ(shown.tab, U("图片1"));
        EXPECT_EQ(shown.startOpacity, U("透明度1"));
        EXPECT_EQ(shown.endOpacity, U("透明度1"));
        EXPECT_EQ(shown.zoomFit, U("适应窗口"));
        EXPECT_EQ(shown.aboutTitle, U("关于 Facetta"));
        EXPECT_EQ(shown.aboutVersion, "Facetta V1.0 (20170326)");
        EXPECT_EQ(shown.aboutOk, U("确定"));
        // Qt's own buttons, no longer "OK" inside a Chinese program.
        EXPECT_EQ(shown.messageOk, U("确定"));
        EXPECT_EQ(shown.fileDialogCancel, U("取消"));
    }
}
