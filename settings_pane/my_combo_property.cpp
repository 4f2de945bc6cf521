#include "my_combo_property.h"

#include "property_value_text.h"

CMyComboProperty::CMyComboProperty(const QString& name, const QString& option,
                                   const QString& description)
    : CGridProperty(name, QVariant(option), description) {}

void CMyComboProperty::AddDataOption(const QString& text, int32_t data) {
    if (AddOption(text, true)) m_arrData.push_back(data);
}

int32_t CMyComboProperty::GetSelectedData() const {
    const QString text = GetValueText(this);
    for (int i = 0; i < GetOptionCount(); ++i) {
        if (GetOption(i) == text) {
            return static_cast<size_t>(i) < m_arrData.size() ? m_arrData[static_cast<size_t>(i)]
                                                             : 0;
        }
    }
    return 0;
}

void CMyComboProperty::SelectByData(int32_t data) {
    for (size_t i = 0; i < m_arrData.size(); ++i) {
        if (m_arrData[i] == data) {
            if (static_cast<int>(i) < GetOptionCount())
                SetValue(QVariant(GetOption(static_cast<int>(i))));
            return;
        }
    }
}
