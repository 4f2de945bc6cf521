#include "grid_property.h"

#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTreeWidgetItem>

#include "property_editors.h"
#include "property_grid.h"
#include "typed_value.h"

namespace {

bool IsIntegerType(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return true;
        default:
            return false;
    }
}

}  // namespace

CGridProperty::CGridProperty(const QString& name, const QVariant& value, const QString& description)
    : m_varValue(value), m_strName(name), m_strDescription(description) {
    m_strOriginal = FormatProperty();
}

CGridProperty::~CGridProperty() = default;

void CGridProperty::SetValue(const QVariant& value) {
    SetFromCode([&] { m_varValue = value; });
}

QString CGridProperty::FormatProperty() const {
    if (m_varValue.typeId() == QMetaType::Bool) return m_varValue.toBool() ? "True" : "False";
    return m_varValue.toString();
}

bool CGridProperty::AddOption(const QString& text, bool bInsertUnique) {
    if (bInsertUnique && m_options.contains(text)) return false;
    m_options.append(text);
    return true;
}

void CGridProperty::EnableSpinControl(bool bEnable, int nMin, int nMax) {
    m_bSpin = bEnable;
    m_nSpinMin = std::min(nMin, nMax);
    m_nSpinMax = std::max(nMin, nMax);
}

void CGridProperty::Show(bool bShow) {
    m_bVisible = bShow;
    if (m_pItem) {
        if (!bShow && IsInPlaceEditing()) m_pGrid->EndEdit();
        m_pItem->setHidden(!bShow);
        m_pGrid->AdjustLayout();
    }
}

bool CGridProperty::IsInPlaceEditing() const {
    return m_pGrid && m_pGrid->IsEditing(this);
}

CPropertyEditor* CGridProperty::CreateEditor(QWidget* parent) {
    if (!m_options.isEmpty()) return new CListEditor(this, parent);
    if (m_bSpin) return new CSpinEditor(this, parent);
    return new CTextEditor(this, parent);
}

void CGridProperty::CommitEditor(CPropertyEditor* editor) {
    const QString text = editor->Text();
    if (text == FormatProperty()) return;
    CommitUserValue(TextToValue(text));
}

void CGridProperty::OnDrawValue(QPainter* painter, const QStyleOptionViewItem& option,
                                const QRect& rect) const {
    const QRect textRect = rect.adjusted(5, 0, -2, 0);
    painter->drawText(
        textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        option.fontMetrics.elidedText(FormatProperty(), Qt::ElideRight, textRect.width()));
}

QVariant CGridProperty::TextToValue(const QString& text) const {
    if (IsIntegerType(m_varValue)) return QVariant(ParseTypedInt(text));
    if (m_varValue.typeId() == QMetaType::Double) return QVariant(text.trimmed().toDouble());
    return QVariant(text);
}

void CGridProperty::CommitUserValue(const QVariant& value) {
    m_varValue = value;
    m_bModified = FormatProperty() != m_strOriginal;
    Redraw();
    if (m_pGrid) m_pGrid->OnPropertyCommitted(this);
}

void CGridProperty::SetFromCode(const std::function<void()>& store) {
    const bool editing = IsInPlaceEditing();
    if (editing) m_pGrid->EndEdit();
    store();
    Redraw();
    if (editing) m_pGrid->StartEdit(this);
}

void CGridProperty::Redraw() {
    if (m_pGrid) m_pGrid->RefreshItem(this);
}

// ---------------------------------------------------------------------------------------

namespace {

// A plain 20-entry starting palette; the program overwrites most entries with its own.
constexpr std::array<COLORREF, CGridColorProperty::kPaletteEntries> kDefaultPalette = {
    RGBColor(0, 0, 0),       RGBColor(128, 0, 0),     RGBColor(0, 128, 0),
    RGBColor(128, 128, 0),   RGBColor(0, 0, 128),     RGBColor(128, 0, 128),
    RGBColor(0, 128, 128),   RGBColor(192, 192, 192), RGBColor(192, 220, 192),
    RGBColor(166, 202, 240), RGBColor(255, 251, 240), RGBColor(255, 255, 255),
    RGBColor(224, 224, 224), RGBColor(160, 160, 164), RGBColor(96, 96, 96),
    RGBColor(38, 38, 38),    RGBColor(0, 0, 0),       RGBColor(46, 64, 96),
    RGBColor(138, 74, 74),   RGBColor(255, 255, 255),
};

}  // namespace

CGridColorProperty::CGridColorProperty(const QString& name, COLORREF color,
                                       const QString& description)
    : CGridProperty(name, QVariant(static_cast<uint>(color)), description),
      m_color(color),
      m_palette(kDefaultPalette) {
    // The base could not call our FormatProperty while constructing.
    m_strOriginal = FormatProperty();
}

void CGridColorProperty::SetColor(COLORREF color) {
    SetFromCode([&] {
        m_color = color;
        m_varValue = QVariant(static_cast<uint>(color));
    });
}

QString CGridColorProperty::FormatProperty() const {
    return FormatColorText(m_color);
}

void CGridColorProperty::SetPaletteEntry(int index, COLORREF color) {
    if (index >= 0 && index < kPaletteEntries) m_palette[static_cast<size_t>(index)] = color;
}

void CGridColorProperty::EnableOtherButton(const QString& text) {
    m_strOther = text;
}

CPropertyEditor* CGridColorProperty::CreateEditor(QWidget* parent) {
    return new CColorEditor(this, parent);
}

void CGridColorProperty::CommitEditor(CPropertyEditor* editor) {
    auto* colorEditor = static_cast<CColorEditor*>(editor);
    std::optional<COLORREF> color = colorEditor->PickedColor();
    if (!color) color = ParseTypedColor(colorEditor->Text());
    if (!color || *color == m_color) return;
    m_color = *color;
    CommitUserValue(QVariant(static_cast<uint>(m_color)));
}

// ---------------------------------------------------------------------------------------

CGridFileProperty::CGridFileProperty(const QString& name, const QString& path,
                                     const QString& defaultExt, const QString& filter,
                                     const QString& description)
    : CGridProperty(name, QVariant(path), description),
      m_strDefaultExt(defaultExt),
      m_strFilter(filter) {}

QStringList CGridFileProperty::GetNameFilters() const {
    return ConvertFileFilter(m_strFilter);
}

CPropertyEditor* CGridFileProperty::CreateEditor(QWidget* parent) {
    return new CFileEditor(this, parent);
}

QStringList ConvertFileFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& text = parts[i];
        if (text.isEmpty()) break;
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        // The patterns always follow in their own parentheses: the dialog hides that last
        // group and shows the text exactly as given, "图片文件" or "JPG图片(*.jpg)".
        result.append(text + " (" + patterns + ')');
    }
    return result;
}

// ---------------------------------------------------------------------------------------

CPropertyGroup::CPropertyGroup(const QString& name) : m_strName(name) {}
CPropertyGroup::~CPropertyGroup() = default;

void CPropertyGroup::AddSubItem(CGridProperty* property) {
    m_items.emplace_back(property);
    if (m_pGrid) m_pGrid->AttachProperty(this, property);
}
