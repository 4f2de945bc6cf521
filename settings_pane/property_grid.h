#pragma once
// A small property grid: collapsible groups of named values edited in place, a description
// area under the list, and one synchronous notification per value the user commits.
#include <memory>
#include <vector>

#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QWidget>

#include "grid_property.h"
#include "property_editors.h"

class CPropertyGrid;

// The list part: rows of groups and properties, a draggable divider between names and
// values, editing started by a click on a value.
class CPropertyTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CPropertyTree(CPropertyGrid* grid);
    int DividerPos() const { return columnWidth(0); }
    using QTreeWidget::edit;
    using QTreeWidget::indexFromItem;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    bool NearDivider(int x) const;

    CPropertyGrid* m_pGrid;
    bool m_bDragging = false;
};

class CPropertyDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit CPropertyDelegate(CPropertyGrid* grid);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Ends an editor without taking its text.
    void CloseWithoutCommit(CPropertyEditor* editor);

protected:
    // The editors handle their own keys and focus.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCommitRequested(CPropertyEditor* editor, bool bClose);

    CPropertyGrid* m_pGrid;
};

// Shows the selected property's name and description.
class CDescriptionArea : public QWidget {
    Q_OBJECT
public:
    explicit CDescriptionArea(QWidget* parent);
    void SetText(const QString& name, const QString& description);
    void SetRows(int nRows);
    QString Name() const { return m_strName; }
    QString Description() const { return m_strDescription; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_strName;
    QString m_strDescription;
    int m_nRows = 2;
};

class CPropertyGrid : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyGrid(QWidget* parent = nullptr);
    ~CPropertyGrid() override;

    void SetDlgCtrlID(int id) { m_nCtrlId = id; }
    int GetDlgCtrlID() const { return m_nCtrlId; }

    void EnableHeaderCtrl(bool bEnable);
    void EnableDescriptionArea(bool bEnable);
    void SetDescriptionRows(int nRows);
    void SetVSDotNetLook(bool bSet) {
        m_bVSDotNetLook = bSet;
        update();
    }
    bool IsVSDotNetLook() const { return m_bVSDotNetLook; }
    void MarkModifiedProperties(bool bMark);
    bool IsMarkModifiedProperties() const { return m_bMarkModified; }
    void SetGroupNameFullWidth(bool bSet);
    bool IsGroupNameFullWidth() const { return m_bGroupNameFullWidth; }
    // Name column at half the width.
    void AdjustLayout();

    // Takes ownership of the group and its properties.
    void AddProperty(CPropertyGroup* group);
    int GetPropertyCount() const { return static_cast<int>(m_groups.size()); }
    CPropertyGroup* GetProperty(int i) const { return m_groups[static_cast<size_t>(i)].get(); }

    CPropertyTree* Tree() const { return m_pTree; }
    CDescriptionArea* DescriptionArea() const { return m_pDescription; }
    // The open in-place editor, if any.
    CPropertyEditor* CurrentEditor() const { return m_pEditor; }
    CGridProperty* CurrentProperty() const;
    CGridProperty* PropertyAt(const QModelIndex& index) const;
    CPropertyGroup* GroupAt(const QModelIndex& index) const;

signals:
    // One per value the user commits, sent before the edit ends; never for values set from code.
    void propertyChanged(int nCtrlId, CGridProperty* property);

protected:
    void changeEvent(QEvent* event) override;

private:
    friend class CGridProperty;
    friend class CPropertyDelegate;
    friend class CPropertyTree;

    friend class CPropertyGroup;

    // Gives a property its row under its group's row.
    void AttachProperty(CPropertyGroup* group, CGridProperty* property);
    void OnPropertyCommitted(CGridProperty* property);
    void RefreshItem(CGridProperty* property);
    void SetValueToolTip(QTreeWidgetItem* item, const CGridProperty* property);
    void UpdateDescription();
    bool IsEditing(const CGridProperty* property) const;
    void EndEdit();
    void StartEdit(CGridProperty* property);

    CPropertyTree* m_pTree;
    CPropertyDelegate* m_pDelegate;
    CDescriptionArea* m_pDescription;
    std::vector<std::unique_ptr<CPropertyGroup>> m_groups;
    int m_nCtrlId = 0;
    bool m_bVSDotNetLook = false;
    bool m_bMarkModified = false;
    bool m_bGroupNameFullWidth = true;
    QPointer<CPropertyEditor> m_pEditor;
};
