#include "typed_value.h"

#include <limits>

namespace {

bool IsBlank(QChar c) {
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r') || c.isSpace();
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

}  // namespace

int32_t ParseTypedInt(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate as a magnitude in 64 bits and stop growing once past the range.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u < u'0' || u > u'9') break;
        magnitude = magnitude * 10 + (u - u'0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (negative) return static_cast<int32_t>(-magnitude);
    return magnitude >= kLimit ? std::numeric_limits<int32_t>::max()
                               : static_cast<int32_t>(magnitude);
}

std::optional<COLORREF> ParseTypedColor(const QString& text) {
    for (QChar c : text)
        if (!IsColorKey(c)) return std::nullopt;
    int groups[3] = {0, 0, 0};
    for (qsizetype g = 0; g < 3; ++g) {
        const qsizetype start = g * 2;
        if (start >= text.size()) break;
        int value = HexDigit(text[start]);
        if (start + 1 < text.size()) value = value * 16 + HexDigit(text[start + 1]);
        groups[g] = value;
    }
    return RGBColor(groups[0], groups[1], groups[2]);
}

QString FormatColorText(COLORREF color) {
    return QString::asprintf("%02x%02x%02x", GetRValue(color), GetGValue(color), GetBValue(color));
}

bool IsColorKey(QChar c) {
    return HexDigit(c) >= 0;
}
