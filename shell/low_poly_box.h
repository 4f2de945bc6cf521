#pragma once
// The animated banner as a widget: ticks the platform-free core every 120 ms and shows its
// last frame. Paints only copy; a frame is drawn on a tick in which something moved, or when
// the size changes.
#include <QBasicTimer>
#include <QWidget>

#include "low_poly_banner.h"

class CLowPolyBox : public QWidget {
    Q_OBJECT
public:
    explicit CLowPolyBox(QWidget* parent = nullptr);
    ~CLowPolyBox() override;

    const LowPolyBanner& Core() const { return m_banner; }
    bool IsAnimating() const { return m_timer.isActive(); }

    static constexpr int kTimerPeriodMs = 120;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void InitAnimation();

    LowPolyBanner m_banner;
    QBasicTimer m_timer;
};
