#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "about_dlg.h"
#include "facetta_app.h"
#include "low_poly_box.h"

namespace {

class AboutBox : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Another suite in this program may already have made the application.
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "about_test";
            static char* argv[] = {name, nullptr};
            static QApplication app(argc, argv);
        }
    }

    // A box whose clock reads `year` and whose links are recorded instead of opened.
    std::unique_ptr<CAboutDlg> Make(int year) {
        auto dlg = std::make_unique<CAboutDlg>(20170326);
        dlg->m_fnToday = [year] { return QDate(year, 6, 30); };
        dlg->m_fnOpenUrl = [this](const QUrl& url) { m_opened.append(url); };
        return dlg;
    }
    static QString Text(const CAboutDlg& dlg, int nId) {
        return static_cast<QLabel*>(dlg.GetDlgItem(nId))->text();
    }

    QList<QUrl> m_opened;
};

TEST_F(AboutBox, VersionAndNoticeLines) {
    const struct {
        int year;
        const char* notice;
    } cases[] = {
        {1999, "Copyright © 2017 Quillmark"},  // a clock set back
        {2016, "Copyright © 2017 Quillmark"},      {2017, "Copyright © 2017 Quillmark"},
        {2018, "Copyright © 2017-2018 Quillmark"}, {2031, "Copyright © 2017-2031 Quillmark"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.year);
        auto dlg = Make(c.year);
        dlg->show();
        EXPECT_EQ(Text(*dlg, CAboutDlg::IDC_ABOUT_VERSION).toStdString(),
                  "Facetta V1.0 (20170326)");
        EXPECT_EQ(Text(*dlg, CAboutDlg::IDC_ABOUT_NOTICE), QString::fromUtf8(c.notice));
        // Showing again fills nothing in twice.
        dlg->hide();
        dlg->show();
        EXPECT_EQ(Text(*dlg, CAboutDlg::IDC_ABOUT_VERSION).toStdString(),
                  "Facetta V1.0 (20170326)");
    }
}

TEST_F(AboutBox, LayoutFollowsTheDialogFont) {
    auto dlg = Make(2024);
    dlg->show();
    EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8("关于 Facetta"));
    const QFontMetrics fm(dlg->font());
    const int bx = fm.averageCharWidth(), by = fm.height();
    EXPECT_NEAR(dlg->width(), 215 * bx / 4, 1);
    EXPECT_NEAR(dlg->height(), 133 * by / 8, 1);
    const struct {
        int id;
        QRect units;
    } controls[] = {
        {CAboutDlg::IDC_ABOUT_BANNER, {0, 0, 215, 46}},
        {CAboutDlg::IDC_ABOUT_VERSION, {9, 52, 188, 8}},
        {CAboutDlg::IDC_ABOUT_LINK1, {9, 64, 188, 8}},
        {CAboutDlg::IDC_ABOUT_LINK2, {9, 76, 188, 8}},
        {CAboutDlg::IDC_ABOUT_NOTICE, {9, 88, 188, 8}},
        {1, {83, 108, 50, 14}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        const QRect r = dlg->GetDlgItem(c.id)->geometry();
        EXPECT_NEAR(r.x(), c.units.x() * bx / 4, 1);
        EXPECT_NEAR(r.y(), c.units.y() * by / 8, 1);
        EXPECT_NEAR(r.width(), c.units.width() * bx / 4, 1);
        EXPECT_NEAR(r.height(), c.units.height() * by / 8, 1);
    }
    EXPECT_EQ(dlg->GetDlgItem(CAboutDlg::IDC_ABOUT_BANNER)->width(), dlg->width());
    auto* ok = static_cast<QPushButton*>(dlg->GetDlgItem(1));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->text(), QString::fromUtf8("确定"));
}

TEST_F(AboutBox, LinkClicksGoToTheOpener) {
    auto dlg = Make(2024);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    // Click inside each anchor: its text follows the plain prefix.
    const struct {
        int id;
        const char* prefix;
        QString anchor;
        const char* url;
    } links[] = {
        {CAboutDlg::IDC_ABOUT_LINK1, "作者网站：", CAboutDlg::WebsiteLinkText(), kMakerWebsite},
        {CAboutDlg::IDC_ABOUT_LINK2, "本程序使用 ", QStringLiteral("Qt"), "https://www.qt.io/"},
    };
    for (const auto& l : links) {
        SCOPED_TRACE(l.url);
        m_opened.clear();
        QWidget* label = dlg->GetDlgItem(l.id);
        const QFontMetrics fm(label->font());
        const int x =
            fm.horizontalAdvance(QString::fromUtf8(l.prefix)) + fm.horizontalAdvance(l.anchor) / 2;
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(x, label->height() / 2));
        ASSERT_EQ(m_opened.size(), 1);
        EXPECT_EQ(m_opened[0], QUrl(QString::fromUtf8(l.url)));
        // The plain text before the anchor opens nothing.
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, label->height() / 2));
        EXPECT_EQ(m_opened.size(), 1);
    }
    m_opened.clear();
    dlg->OnLinkClick(QString());
    EXPECT_TRUE(m_opened.isEmpty());
}

TEST_F(AboutBox, OkEnterEscAndTheCloseBoxCloseIt) {
    const struct {
        const char* how;
        int result;
    } cases[] = {{"ok", QDialog::Accepted},
                 {"enter", QDialog::Accepted},
                 {"esc", QDialog::Rejected},
                 {"close box", QDialog::Rejected}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        auto dlg = Make(2024);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        auto* banner = static_cast<CLowPolyBox*>(dlg->GetDlgItem(CAboutDlg::IDC_ABOUT_BANNER));
        EXPECT_TRUE(banner->IsAnimating());
        QSignalSpy finished(dlg.get(), &QDialog::finished);
        const std::string how = c.how;
        if (how == "ok") QTest::mouseClick(dlg->GetDlgItem(1), Qt::LeftButton);
        if (how == "enter") QTest::keyClick(dlg->focusWidget(), Qt::Key_Return);
        if (how == "esc") QTest::keyClick(dlg.get(), Qt::Key_Escape);
        if (how == "close box") dlg->close();  // what the title bar's button asks for
        ASSERT_EQ(finished.size(), 1);
        EXPECT_EQ(finished[0][0].toInt(), c.result);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_FALSE(banner->IsAnimating());  // closing stops the timer
    }
}

TEST_F(AboutBox, BannerMovesAndKeepsItsColourOnResize) {
    CLowPolyBox box;
    box.resize(322, 75);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QImage first = box.grab().toImage();
    const COLORREF colour = box.Core().m_crBack;
    ASSERT_EQ(box.Core().VertexCount(), 24);
    // Some vertex starts without a rest, so a few ticks change the picture.
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.grab().toImage() != first; }, 10000));

    box.resize(500, 90);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            box.grab();
            return box.Core().VertexCount() == 40;
        },
        5000));
    EXPECT_EQ(box.Core().m_crBack, colour);
    EXPECT_EQ(box.grab().toImage().size(), QSize(500, 90));
    box.close();
    EXPECT_FALSE(box.IsAnimating());
}

TEST_F(AboutBox, TinyBannerShowsItsColourWithoutFailing) {
    CLowPolyBox box;
    box.resize(20, 10);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QImage image = box.grab().toImage();
    EXPECT_EQ(box.Core().VertexCount(), 0);
    const COLORREF c = box.Core().m_crBack;
    // The centre column is the background colour, barely shaded.
    const QRgb centre = image.pixel(10, 5);
    EXPECT_NEAR(qRed(centre), GetRValue(c), 12);
    EXPECT_NEAR(qGreen(centre), GetGValue(c), 12);
    EXPECT_NEAR(qBlue(centre), GetBValue(c), 12);
}

}  // namespace
