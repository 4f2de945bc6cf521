#include "screen_size.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

#include <cmath>

namespace {

// A screen's size is in device-independent pixels; its origin stays in the platform's own
// coordinates: device pixels on X11 and Windows (whatever Qt's scale factor), logical ones
// where the platform itself scales (Wayland, macOS).
QRect DeviceRect(const QScreen* pScreen) {
    const QRect g = pScreen->geometry();
    const qreal dpr = pScreen->devicePixelRatio();
    auto px = [](int v, qreal f) { return static_cast<int>(std::lround(v * f)); };
    const QString platform = QGuiApplication::platformName();
    const qreal origin =
        platform.startsWith(QLatin1String("wayland")) || platform == QLatin1String("cocoa") ? dpr
                                                                                            : 1.0;
    return QRect(px(g.x(), origin), px(g.y(), origin), px(g.width(), dpr), px(g.height(), dpr));
}

}  // namespace

QSize ScreenPixelSize(const QScreen* pScreen) {
    return pScreen ? DeviceRect(pScreen).size() : QSize();
}

QSize AllScreensPixelSize(const QList<QScreen*>& screens) {
    QRect box;
    for (const QScreen* s : screens)
        if (s) box = box.united(DeviceRect(s));
    return box.size();
}
