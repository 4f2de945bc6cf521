#include "property_value_text.h"

#include "grid_property.h"

QString GetValueText(const CGridProperty* property) {
    constexpr qsizetype kMaxText = 259;
    if (!property) return QString();
    QString text = property->FormatProperty();
    if (text.size() > kMaxText) text.truncate(kMaxText);
    return text;
}
