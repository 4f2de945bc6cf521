#pragma once
// Colours for the preview windows' tabs, assigned one after another as windows open, and
// the strip that shows them. The tab row belongs to the tab area; the strip is a child laid
// over it that paints a band in each tab's colour and lets every click through.
#include <QColor>
#include <QWidget>

class QTabBar;

class CTabColors : public QWidget {
    Q_OBJECT
public:
    explicit CTabColors(QTabBar* pTabBar);

    // Gives tab `nIndex` the next colour; the colour stays with the tab when tabs move.
    void AssignNext(int nIndex);
    // The colour of tab `nIndex`; invalid when it has none.
    QColor ColorOf(int nIndex) const;
    // The band's rectangle inside tab `nIndex`, in the tab row's coordinates.
    QRect BandRect(int nIndex) const;

    static constexpr int kPaletteSize = 8;
    static QColor PaletteColor(int n);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTabBar* m_pTabBar;
    int m_nNext = 0;
};
