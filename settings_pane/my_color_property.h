#pragma once
#include "grid_property.h"

// A colour whose drop-down palette starts with the program's own colours.
class CMyColorProperty : public CGridColorProperty {
public:
    CMyColorProperty(const QString& name, COLORREF color, const QString& description);
    ~CMyColorProperty() override = default;

    // A swatch at the left of the cell, the hex text after it.
    void OnDrawValue(QPainter* painter, const QStyleOptionViewItem& option,
                     const QRect& rect) const override;
};
