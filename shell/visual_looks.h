#pragma once
// The nine visual looks (commands 210-218): a widget style, a palette and a small style
// sheet each, applied to the whole application.
#include <QColor>

#include <cstdint>

// Applies look `nId`. An id outside 210-218 keeps the family of the 2007 looks without
// choosing one of its colour schemes: the last 2007 scheme used, blue at first.
// Returns the colour behind the preview windows.
QColor ApplyVisualLook(uint32_t nId);

// True for 210-218.
bool IsKnownLook(uint32_t nId);
