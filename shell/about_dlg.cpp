#include "about_dlg.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "facetta_app.h"

const char* const CAboutDlg::kLink1Url = kMakerWebsite;
const char* const CAboutDlg::kLink2Url = "https://www.qt.io/";

namespace {

// Layout in dialog units: the client is 215 x 133.
constexpr QRect kClientUnits(0, 0, 215, 133);
constexpr QRect kBannerUnits(0, 0, 215, 46);
constexpr QRect kVersionUnits(9, 52, 188, 8);
constexpr QRect kLink1Units(9, 64, 188, 8);
constexpr QRect kLink2Units(9, 76, 188, 8);
constexpr QRect kNoticeUnits(9, 88, 188, 8);
constexpr QRect kOkUnits(83, 108, 50, 14);

// One line of plain text whose "%1" is the link.
QString LinkLine(const QString& strLine, const char* pszUrl, const QString& strText) {
    const qsizetype nAt = strLine.indexOf(QLatin1String("%1"));
    const QString strBefore = nAt < 0 ? strLine : strLine.left(nAt);
    const QString strAfter = nAt < 0 ? QString() : strLine.mid(nAt + 2);
    return QStringLiteral("%1<a href=\"%2\">%3</a>%4")
        .arg(strBefore.toHtmlEscaped(), QString::fromUtf8(pszUrl).toHtmlEscaped(),
             strText.toHtmlEscaped(), strAfter.toHtmlEscaped());
}

QLabel* MakeLinkLabel(const QString& strHtml, QWidget* parent) {
    auto* label = new QLabel(strHtml, parent);
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(false);  // every click goes through OnLinkClick
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setFocusPolicy(Qt::TabFocus);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(uint32_t nVersion, QWidget* parent)
    : QDialog(parent), m_nVersion(nVersion), m_wndBanner(this) {
    setWindowTitle(tr("关于 Facetta"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    m_wndBanner.setObjectName(QStringLiteral("IDC_ABOUT_BANNER"));
    m_pVersion = new QLabel(QStringLiteral("Facetta V1.0"), this);
    m_pVersion->setObjectName(QStringLiteral("IDC_ABOUT_VERSION"));
    m_pVersion->setTextFormat(Qt::PlainText);
    m_pOk = new QPushButton(tr("确定"), this);
    m_pOk->setObjectName(QStringLiteral("IDOK"));
    m_pOk->setDefault(true);
    m_pOk->setAutoDefault(true);
    m_pLink1 = MakeLinkLabel(LinkLine(tr("作者网站：%1"), kLink1Url, WebsiteLinkText()), this);
    m_pLink1->setObjectName(QStringLiteral("IDC_ABOUT_LINK1"));
    m_pLink2 =
        MakeLinkLabel(LinkLine(tr("本程序使用 %1 开发"), kLink2Url, QStringLiteral("Qt")), this);
    m_pLink2->setObjectName(QStringLiteral("IDC_ABOUT_LINK2"));
    m_pNotice = new QLabel(this);
    m_pNotice->setObjectName(QStringLiteral("IDC_ABOUT_NOTICE"));
    m_pNotice->setTextFormat(Qt::PlainText);

    m_wndBanner.setGeometry(MapDialogRect(kBannerUnits));
    m_pVersion->setGeometry(MapDialogRect(kVersionUnits));
    m_pLink1->setGeometry(MapDialogRect(kLink1Units));
    m_pLink2->setGeometry(MapDialogRect(kLink2Units));
    m_pNotice->setGeometry(MapDialogRect(kNoticeUnits));
    m_pOk->setGeometry(MapDialogRect(kOkUnits));
    setFixedSize(MapDialogRect(kClientUnits).size());

    // The template's order: OK, then the two links.
    setTabOrder(m_pOk, m_pLink1);
    setTabOrder(m_pLink1, m_pLink2);

    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pLink1, &QLabel::linkActivated, this, &CAboutDlg::OnLinkClick);
    connect(m_pLink2, &QLabel::linkActivated, this, &CAboutDlg::OnLinkClick);

    m_fnToday = [] { return QDate::currentDate(); };
    m_fnOpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

CAboutDlg::~CAboutDlg() = default;

QRect CAboutDlg::MapDialogRect(const QRect& rcUnits) const {
    // Dialog units: a quarter of the font's average character width across, an eighth of
    // its height down.
    const QFontMetrics fm(font());
    const int nBaseX = qMax(1, fm.averageCharWidth()), nBaseY = qMax(1, fm.height());
    auto x = [&](int n) { return (n * nBaseX + 2) / 4; };
    auto y = [&](int n) { return (n * nBaseY + 4) / 8; };
    const int left = x(rcUnits.x()), top = y(rcUnits.y());
    return QRect(left, top, x(rcUnits.x() + rcUnits.width()) - left,
                 y(rcUnits.y() + rcUnits.height()) - top);
}

QString CAboutDlg::WebsiteLinkText() {
    // The address as people write it: no scheme, no closing slash.
    QString strText = QString::fromUtf8(kLink1Url);
    strText.remove(QRegularExpression(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://")));
    while (strText.endsWith(QLatin1Char('/'))) strText.chop(1);
    return strText;
}

QString CAboutDlg::NoticeText(int nYear) {
    if (nYear <= 2017) return QStringLiteral("Copyright © 2017 Quillmark");
    return QStringLiteral("Copyright © 2017-%1 Quillmark").arg(nYear);
}

void CAboutDlg::OnInitDialog() {
    if (m_bInitDone) return;
    m_bInitDone = true;
    m_pVersion->setText(QStringLiteral("%1 (%2)").arg(m_pVersion->text()).arg(m_nVersion));
    const QDate today = m_fnToday ? m_fnToday() : QDate::currentDate();
    m_pNotice->setText(NoticeText(today.year()));
    m_pOk->setFocus();
}

void CAboutDlg::OnLinkClick(const QString& strUrl) {
    if (strUrl.isEmpty() || !m_fnOpenUrl) return;
    m_fnOpenUrl(QUrl(strUrl));
}

QWidget* CAboutDlg::GetDlgItem(int nId) const {
    switch (nId) {
        case 1:
            return m_pOk;
        case IDC_ABOUT_LINK1:
            return m_pLink1;
        case IDC_ABOUT_LINK2:
            return m_pLink2;
        case IDC_ABOUT_VERSION:
            return m_pVersion;
        case IDC_ABOUT_BANNER:
            return const_cast<CLowPolyBox*>(&m_wndBanner);
        case IDC_ABOUT_NOTICE:
            return m_pNotice;
        default:
            return nullptr;
    }
}

void CAboutDlg::showEvent(QShowEvent* event) {
    OnInitDialog();
    QDialog::showEvent(event);
}
