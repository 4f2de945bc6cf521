#pragma once
// Conversions of text typed into the property grid. Pure functions, no widgets, so that
// they can be fed arbitrary input.
#include <cstdint>
#include <optional>

#include <QString>

#include "image_settings.h"

// Leading white space is skipped, then an optional sign and the decimal digits after it;
// reading stops at the first other character and text without digits gives 0. Numbers
// beyond the 32-bit range saturate at its ends.
int32_t ParseTypedInt(const QString& text);

// Up to three two-digit hexadecimal groups, red, green, blue, missing groups counting as 0.
// Text holding anything but hexadecimal digits is refused.
std::optional<COLORREF> ParseTypedColor(const QString& text);

// Six lower-case hexadecimal digits, red, green, blue.
QString FormatColorText(COLORREF color);

// Whether a character may be typed into a colour value.
bool IsColorKey(QChar c);
