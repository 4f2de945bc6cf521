#pragma once
// Properties and groups of CPropertyGrid. A property holds one value, knows how to edit it
// in place and how to draw it; the grid owns groups, groups own their properties.
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <QColor>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "image_settings.h"

class CPropertyEditor;
class CPropertyGrid;
class QPainter;
class QRect;
class QStyleOptionViewItem;
class QTreeWidgetItem;
class QWidget;

class CGridProperty {
public:
    CGridProperty(const QString& name, const QVariant& value, const QString& description);
    virtual ~CGridProperty();
    CGridProperty(const CGridProperty&) = delete;
    CGridProperty& operator=(const CGridProperty&) = delete;

    QString GetName() const { return m_strName; }
    QString GetDescription() const { return m_strDescription; }
    const QVariant& GetValue() const { return m_varValue; }
    // A value from code: no notification and no change to the modified mark. An open
    // in-place editor is closed and opened again on the new value.
    virtual void SetValue(const QVariant& value);
    // The value as the grid shows it.
    virtual QString FormatProperty() const;

    // Options offered in a drop-down list; false when a duplicate was refused.
    bool AddOption(const QString& text, bool bInsertUnique = true);
    int GetOptionCount() const { return static_cast<int>(m_options.size()); }
    QString GetOption(int i) const { return m_options.value(i); }
    // Off: only the options can be chosen, nothing typed.
    void AllowEdit(bool bAllow = true) { m_bAllowEdit = bAllow; }
    bool IsAllowEdit() const { return m_bAllowEdit; }
    // Up/down arrows within [min, max]; typed text is not held to the range.
    void EnableSpinControl(bool bEnable, int nMin, int nMax);
    bool HasSpinControl() const { return m_bSpin; }
    int SpinMin() const { return m_nSpinMin; }
    int SpinMax() const { return m_nSpinMax; }

    bool IsModified() const { return m_bModified; }
    void Show(bool bShow);
    bool IsVisible() const { return m_bVisible; }
    bool IsInPlaceEditing() const;
    CPropertyGrid* GetGrid() const { return m_pGrid; }
    QTreeWidgetItem* GetItem() const { return m_pItem; }

    // In-place editing, driven by the grid.
    virtual CPropertyEditor* CreateEditor(QWidget* parent);
    // Takes what the editor holds; notifies when the user's value differs from the shown one.
    virtual void CommitEditor(CPropertyEditor* editor);
    // Draws the value cell.
    virtual void OnDrawValue(QPainter* painter, const QStyleOptionViewItem& option,
                             const QRect& rect) const;

protected:
    // Converts typed text into a value of the current representation.
    virtual QVariant TextToValue(const QString& text) const;
    // A value the user committed: store, refresh the mark, notify.
    void CommitUserValue(const QVariant& value);
    // Stores a value from code around an open editor (closes it and reopens it after).
    void SetFromCode(const std::function<void()>& store);
    void Redraw();

    QVariant m_varValue;
    QString m_strOriginal;  // text of the initial value, against which changes are marked

private:
    friend class CPropertyGrid;
    friend class CPropertyGroup;

    QString m_strName;
    QString m_strDescription;
    QStringList m_options;
    bool m_bAllowEdit = true;
    bool m_bSpin = false;
    int m_nSpinMin = 0;
    int m_nSpinMax = 0;
    bool m_bModified = false;
    bool m_bVisible = true;
    CPropertyGrid* m_pGrid = nullptr;
    QTreeWidgetItem* m_pItem = nullptr;
};

// A 20-colour palette drop-down, the hex text and optionally a full colour dialog.
class CGridColorProperty : public CGridProperty {
public:
    static constexpr int kPaletteEntries = 20;

    CGridColorProperty(const QString& name, COLORREF color, const QString& description);

    COLORREF GetColor() const { return m_color; }
    // From code: no notification.
    void SetColor(COLORREF color);
    QString FormatProperty() const override;

    void SetPaletteEntry(int index, COLORREF color);
    COLORREF GetPaletteEntry(int index) const { return m_palette[static_cast<size_t>(index)]; }
    // Adds the "other colours" button that opens the full colour dialog.
    void EnableOtherButton(const QString& text);
    bool HasOtherButton() const { return !m_strOther.isEmpty(); }
    QString GetOtherButtonText() const { return m_strOther; }

    CPropertyEditor* CreateEditor(QWidget* parent) override;
    void CommitEditor(CPropertyEditor* editor) override;

private:
    COLORREF m_color;
    std::array<COLORREF, kPaletteEntries> m_palette;
    QString m_strOther;
};

// A file path with a browse button opening an open-file dialog.
class CGridFileProperty : public CGridProperty {
public:
    // filter: pairs of display text and patterns, each followed by '|'.
    CGridFileProperty(const QString& name, const QString& path, const QString& defaultExt,
                      const QString& filter, const QString& description);

    QString GetDefaultExt() const { return m_strDefaultExt; }
    // The filter as name filters for the file dialog, which shows them with their details
    // hidden (QFileDialog::HideNameFilterDetails): each label reads as the filter gives it.
    QStringList GetNameFilters() const;

    CPropertyEditor* CreateEditor(QWidget* parent) override;

private:
    QString m_strDefaultExt;
    QString m_strFilter;
};

// Name filters for a file dialog from "text|patterns|text|patterns|".
QStringList ConvertFileFilter(const QString& filter);

class CPropertyGroup {
public:
    explicit CPropertyGroup(const QString& name);
    ~CPropertyGroup();

    QString GetName() const { return m_strName; }
    // Takes ownership.
    void AddSubItem(CGridProperty* property);
    int GetSubItemsCount() const { return static_cast<int>(m_items.size()); }
    CGridProperty* GetSubItem(int i) const { return m_items[static_cast<size_t>(i)].get(); }
    QTreeWidgetItem* GetItem() const { return m_pItem; }

private:
    friend class CPropertyGrid;
    QString m_strName;
    std::vector<std::unique_ptr<CGridProperty>> m_items;
    QTreeWidgetItem* m_pItem = nullptr;
    CPropertyGrid* m_pGrid = nullptr;
};
