#include "low_poly_box.h"

#include <QImage>
#include <QPainter>
#include <QTimerEvent>

CLowPolyBox::CLowPolyBox(QWidget* parent) : QWidget(parent) {
    // Every pixel comes from the back buffer: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

CLowPolyBox::~CLowPolyBox() = default;

void CLowPolyBox::InitAnimation() {
    m_banner.InitAnimation();
    m_timer.start(kTimerPeriodMs, this);
    update();
}

void CLowPolyBox::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_timer.isActive()) InitAnimation();
}

void CLowPolyBox::hideEvent(QHideEvent* event) {
    // Closing the window (or the dialog holding it) stops the animation and drops the back
    // buffer; the mesh stays until the widget goes.
    m_timer.stop();
    m_banner.ReleaseFrame();
    QWidget::hideEvent(event);
}

void CLowPolyBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Drawn at the screen's own resolution: on a 2x screen the frame has twice the pixels.
    const qreal dpr = devicePixelRatioF();
    const Picture* frame = m_banner.PrepareFrame(qRound(width() * dpr), qRound(height() * dpr));
    if (!frame) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // A view of the frame's pixels, no copy; the frame is opaque, so RGB32 draws fastest.
    QImage image(reinterpret_cast<const uchar*>(frame->Pixels()), frame->Width(), frame->Height(),
                 qsizetype(frame->Width()) * 4, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    painter.drawImage(0, 0, image);
}

void CLowPolyBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    update();
}

void CLowPolyBox::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (m_banner.Tick()) update();
}
