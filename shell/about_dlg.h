#pragma once
// The About box: the animated banner across the top, the version line with the build
// number, two link lines, the rights notice and OK.
#include <QDate>
#include <QDialog>
#include <QRect>
#include <QUrl>

#include <cstdint>
#include <functional>

#include "low_poly_box.h"

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 100 };
    enum ControlId {
        IDC_ABOUT_LINK1 = 1000,
        IDC_ABOUT_LINK2 = 1001,
        IDC_ABOUT_VERSION = 1002,
        IDC_ABOUT_BANNER = 1003,
        IDC_ABOUT_NOTICE = 1004,
    };

    explicit CAboutDlg(uint32_t nVersion, QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // Seams for tests: today's local date, and what opens a clicked link.
    std::function<QDate()> m_fnToday;
    std::function<void(const QUrl&)> m_fnOpenUrl;

    // Fills in the version and notice lines; runs once, just before the box first shows.
    void OnInitDialog();
    void OnLinkClick(const QString& strUrl);

    // The control of an id above, or IDOK (1); nullptr for others.
    QWidget* GetDlgItem(int nId) const;
    // A dialog-unit rectangle in pixels for this dialog's font.
    QRect MapDialogRect(const QRect& rcUnits) const;

    // The notice line for a local year; a clock set before 2017 still shows 2017.
    static QString NoticeText(int nYear);
    // The maker's address as the first link line shows it.
    static QString WebsiteLinkText();

    static const char* const kLink1Url;
    static const char* const kLink2Url;

protected:
    void showEvent(QShowEvent* event) override;

private:
    uint32_t m_nVersion;
    bool m_bInitDone = false;
    CLowPolyBox m_wndBanner;
    QLabel* m_pVersion = nullptr;
    QLabel* m_pLink1 = nullptr;
    QLabel* m_pLink2 = nullptr;
    QLabel* m_pNotice = nullptr;
    QPushButton* m_pOk = nullptr;
};
