#include "tab_colors.h"

#include <QEvent>
#include <QPainter>
#include <QTabBar>

namespace {

// Distinct hues of similar weight, so no tab shouts louder than another, and each readable
// as a band on light and on dark tab rows.
constexpr QRgb kPalette[CTabColors::kPaletteSize] = {
    0x4f8fde, 0xf0a030, 0x5cb85c, 0xd9609c, 0x9370db, 0xe0c020, 0x30b0b0, 0xe06a50,
};
constexpr int kBand = 4;

}  // namespace

QColor CTabColors::PaletteColor(int n) {
    return QColor(kPalette[((n % kPaletteSize) + kPaletteSize) % kPaletteSize]);
}

CTabColors::CTabColors(QTabBar* pTabBar) : QWidget(pTabBar), m_pTabBar(pTabBar) {
    setObjectName(QStringLiteral("TabColors"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(pTabBar->rect());
    pTabBar->installEventFilter(this);
    connect(pTabBar, &QTabBar::currentChanged, this, qOverload<>(&QWidget::update));
    connect(pTabBar, &QTabBar::tabMoved, this, qOverload<>(&QWidget::update));
    raise();
}

void CTabColors::AssignNext(int nIndex) {
    if (nIndex < 0 || nIndex >= m_pTabBar->count()) return;
    m_pTabBar->setTabData(nIndex, PaletteColor(m_nNext++));
    update();
}

QColor CTabColors::ColorOf(int nIndex) const {
    const QVariant data = m_pTabBar->tabData(nIndex);
    return data.canConvert<QColor>() ? data.value<QColor>() : QColor();
}

QRect CTabColors::BandRect(int nIndex) const {
    // Along the tab's edge away from the document; the selected tab's band is a little
    // taller, so the active window stands out in every look.
    const QRect tab = m_pTabBar->tabRect(nIndex).adjusted(1, 0, -1, 0);
    const int nBand = nIndex == m_pTabBar->currentIndex() ? kBand + 1 : kBand;
    const bool bBelow = m_pTabBar->shape() == QTabBar::RoundedSouth ||
                        m_pTabBar->shape() == QTabBar::TriangularSouth;
    return bBelow ? QRect(tab.left(), tab.bottom() - nBand + 1, tab.width(), nBand)
                  : QRect(tab.left(), tab.top(), tab.width(), nBand);
}

bool CTabColors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pTabBar) {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::LayoutRequest:
                setGeometry(m_pTabBar->rect());
                raise();
                update();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CTabColors::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < m_pTabBar->count(); ++i) {
        const QColor color = ColorOf(i);
        if (!color.isValid()) continue;
        const QColor shown = i == m_pTabBar->currentIndex() ? color : color.lighter(115);
        painter.fillRect(BandRect(i), shown);
    }
}
