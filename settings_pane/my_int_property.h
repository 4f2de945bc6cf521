#pragma once
#include <cstdint>

#include "grid_property.h"

// An integer that code can always set and always read back as a number, whatever
// representation the user's last edit left behind.
class CMyIntProperty : public CGridProperty {
public:
    CMyIntProperty(const QString& name, int32_t value, const QString& description);
    ~CMyIntProperty() override = default;

    // Replaces the value whatever its representation; no notification, no modified mark.
    // An editor open on the property is reopened showing the new value.
    virtual void SetIntValue(int32_t value);
    int32_t GetIntValue() const;
};
