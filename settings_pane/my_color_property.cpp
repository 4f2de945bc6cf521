#include "my_color_property.h"

#include <QPainter>
#include <QStyleOptionViewItem>

namespace {

// Entries 0-10 and 19; the colours new windows draw their backgrounds from.
constexpr struct {
    int index;
    COLORREF color;
} kOwnColors[] = {
    {0, RGBColor(254, 218, 62)},  {1, RGBColor(204, 102, 152)}, {2, RGBColor(8, 105, 173)},
    {3, RGBColor(255, 131, 0)},   {4, RGBColor(122, 134, 184)}, {5, RGBColor(240, 81, 51)},
    {6, RGBColor(42, 169, 224)},  {7, RGBColor(113, 191, 69)},  {8, RGBColor(239, 14, 57)},
    {9, RGBColor(158, 121, 215)}, {10, RGBColor(0, 212, 254)},  {19, RGBColor(70, 200, 255)},
};

// Entries 11-18: quiet neutrals and deep tones to set the bright ones off.
constexpr COLORREF kNeutrals[8] = {
    RGBColor(255, 255, 255), RGBColor(217, 217, 217), RGBColor(128, 128, 128),
    RGBColor(64, 64, 64),    RGBColor(0, 0, 0),       RGBColor(31, 58, 96),
    RGBColor(0, 105, 92),    RGBColor(122, 31, 61),
};

}  // namespace

CMyColorProperty::CMyColorProperty(const QString& name, COLORREF color, const QString& description)
    : CGridColorProperty(name, color, description) {
    for (int i = 0; i < 8; ++i) SetPaletteEntry(11 + i, kNeutrals[i]);
    for (const auto& own : kOwnColors) SetPaletteEntry(own.index, own.color);
}

void CMyColorProperty::OnDrawValue(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QRect& rect) const {
    CGridProperty::OnDrawValue(painter, option, rect.adjusted(rect.height(), 0, 0, 0));
    QRect square(rect.left(), rect.top(), rect.height(), rect.height());
    square.adjust(1, 1, -1, -1);
    square.adjust(1, 1, 0, 0);
    const COLORREF c = GetColor();
    painter->fillRect(square, QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    painter->setPen(Qt::black);
    painter->drawRect(square.adjusted(0, 0, -1, -1));
}
