#pragma once
#include <cstdint>
#include <vector>

#include "grid_property.h"

// A list whose options each carry a number: the user sees words, the settings hold numbers.
class CMyComboProperty : public CGridProperty {
public:
    CMyComboProperty(const QString& name, const QString& option, const QString& description);
    ~CMyComboProperty() override = default;

    // Adds the option unless its text is already there; the data follows only an added option.
    void AddDataOption(const QString& text, int32_t data);
    // The data of the shown option; 0 when it matches none.
    int32_t GetSelectedData() const;
    // Shows the first option carrying the data; unknown data changes nothing. No notification.
    void SelectByData(int32_t data);

    std::vector<int32_t> m_arrData;
};
