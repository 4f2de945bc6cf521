#pragma once
// Screen sizes in physical pixels, the size a wallpaper must have to be shown pixel for pixel.
#include <QList>
#include <QSize>

class QScreen;

// The screen's size in device pixels: its geometry times its device pixel ratio, so a
// 2560 x 1600 panel at 200 % gives 2560 x 1600. Empty for no screen.
QSize ScreenPixelSize(const QScreen* pScreen);

// The bounding box of all the screens in device pixels, for one picture over all of them.
QSize AllScreensPixelSize(const QList<QScreen*>& screens);
