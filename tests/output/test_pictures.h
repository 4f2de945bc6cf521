#pragma once
// Small pictures that look like what the renderer makes: smooth gradients under flat
// translucent triangles, plus helpers to compare them.
#include <QImage>
#include <QString>

#include "picture.h"

// Opaque unless `translucent`, in which case alpha varies across the picture and one corner
// block is fully transparent.
Picture MakeTestPicture(int width, int height, bool translucent = false);

// Mean absolute difference per channel (r, g, b averaged), over all pixels, of a picture and
// an image of the same size converted to ARGB32.
double MeanColourError(const Picture& picture, const QImage& image);

// Bytes of a file, or an empty array when it cannot be read.
QByteArray ReadAll(const QString& path);
