#pragma once
// The picture renderer's drawing done with QPainter: the reference the tests compare against
// and the benchmark races.
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygon>
#include <algorithm>
#include <cmath>

#include "image_settings.h"
#include "polygon_mesh.h"

// The area a 1-pixel pen with bevelled corners covers along the closed outline, as a shape
// for QPainter's exact-area fill.
inline QPainterPath StrokeShape(const QPolygon& polygon) {
    QPainterPath path;
    path.addPolygon(polygon);
    path.closeSubpath();
    QPainterPathStroker stroker;
    stroker.setWidth(1);
    stroker.setCapStyle(Qt::FlatCap);
    stroker.setJoinStyle(Qt::BevelJoin);
    return stroker.createStroke(path);
}

inline QColor ArgbColor(ARGB c) {
    return QColor::fromRgba(c);
}

// `cosmetic`: outlines with QPainter's cosmetic 1-pixel pen (its fast line drawing); otherwise
// the stroke shape filled, which is what the engine draws.
inline QImage PainterRender(const ImageSettings& s, const PolygonMesh& mesh, const QImage* back,
                            bool cosmetic = true) {
    const int w = s.nWidth, h = s.nHeight;
    QImage img(w, h, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, 0, w, h, ArgbColor(MakeArgb(s.crBackColor, 255)));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    QPointF p1(0, 0), p2(w / 2, 0);
    ARGB c1 = w < 300 ? 0x50000000u : 0x78000000u, c2 = 0;
    const ARGB g1 = MakeArgb(s.crGradColor1, 255), g2 = MakeArgb(s.crGradColor2, 255);
    switch (s.nBackMode) {
        case 1:
            p1 = {0, 0}, p2 = {double(w), 0}, c1 = g1, c2 = g2;
            break;
        case 2:
            p1 = {0, 0}, p2 = {double(w / 2), 0}, c1 = g1, c2 = g2;
            break;
        case 3:
            p1 = {0, 0}, p2 = {0, double(h)}, c1 = g1, c2 = g2;
            break;
        case 4:
            p1 = {0, 0}, p2 = {0, double(h / 2)}, c1 = g1, c2 = g2;
            break;
        case 5:
            p1 = {0, 0}, p2 = {double(w), double(h)}, c1 = g1, c2 = g2;
            break;
        case 6:
            p1 = {0, double(h)}, p2 = {double(w), 0}, c1 = g1, c2 = g2;
            break;
        default:
            break;
    }
    QLinearGradient g(p1, p2);
    g.setColorAt(0, ArgbColor(c1));
    g.setColorAt(1, ArgbColor(c2));
    g.setSpread(QGradient::ReflectSpread);
    p.fillRect(0, 0, w, h, g);

    if (back && !back->isNull()) {
        const int iw = back->width(), ih = back->height();
        const double sc = std::max(double(w) / iw, double(h) / ih);
        const double dw = std::trunc(iw * sc), dh = std::trunc(ih * sc);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(std::trunc((w - dw) / 2), std::trunc((h - dh) / 2), dw, dh), *back,
                    QRectF(0, 0, iw, ih));
    }

    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(ArgbColor(MakeArgb(s.crLineColor, OpacityToAlpha(s.nLineOpacity))), 1);
    pen.setCosmetic(true);
    const bool outline = s.nLineOpacity > 0;
    for (const MeshTriangle& t : mesh.pTriangles) {
        const MeshVertex &a = mesh.pVertices[size_t(t.a)], &b = mesh.pVertices[size_t(t.b)],
                         &c = mesh.pVertices[size_t(t.c)];
        if (a.x >= w && a.y >= h && b.x >= w && b.y >= h && c.x >= w && c.y >= h) continue;
        const QPolygon tri({QPoint(a.x, a.y), QPoint(b.x, b.y), QPoint(c.x, c.y)});
        p.setPen(Qt::NoPen);
        p.setBrush(ArgbColor(MakeArgb(s.crPolyColor, t.alpha)));
        p.drawPolygon(tri, Qt::OddEvenFill);
        if (outline) {
            if (cosmetic) {
                p.setPen(pen);
                p.setBrush(Qt::NoBrush);
                p.drawPolygon(tri);
            } else {
                p.fillPath(StrokeShape(tri), pen.color());
            }
        }
    }
    p.end();
    return img;
}
