#include "my_int_property.h"

#include <cmath>
#include <limits>

CMyIntProperty::CMyIntProperty(const QString& name, int32_t value, const QString& description)
    : CGridProperty(name, QVariant(static_cast<int>(value)), description) {}

void CMyIntProperty::SetIntValue(int32_t value) {
    SetFromCode([&] { m_varValue = QVariant(static_cast<int>(value)); });
}

int32_t CMyIntProperty::GetIntValue() const {
    const QVariant& v = GetValue();
    switch (v.typeId()) {
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
            return static_cast<int32_t>(v.toLongLong());
        case QMetaType::Float:
        case QMetaType::Double: {
            // Truncated toward zero; out-of-range reals are held at the ends rather than
            // left to undefined conversion.
            const double d = std::trunc(v.toDouble());
            if (std::isnan(d)) return 0;
            if (d >= static_cast<double>(std::numeric_limits<int32_t>::max()))
                return std::numeric_limits<int32_t>::max();
            if (d <= static_cast<double>(std::numeric_limits<int32_t>::min()))
                return std::numeric_limits<int32_t>::min();
            return static_cast<int32_t>(d);
        }
        case QMetaType::Bool:
            return v.toBool() ? 1 : 0;
        default:
            return 0;
    }
}
