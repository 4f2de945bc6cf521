#pragma once
#include <QString>

class CGridProperty;

// The property's current value as text; at most 259 characters, the most a settings path holds.
QString GetValueText(const CGridProperty* property);
