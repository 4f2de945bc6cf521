#include "property_grid.h"

#include <algorithm>

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "property_editors.h"

namespace {

constexpr int kPropertyRole = Qt::UserRole;
constexpr int kGroupRole = Qt::UserRole + 1;
constexpr int kTextMargin = 5;
constexpr int kDividerGrip = 3;

// Thin lines between rows: a faint mix of text over base, so they suit any palette.
QColor GridLineColor(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    return QColor::fromRgbF(base.redF() * 0.85f + text.redF() * 0.15f,
                            base.greenF() * 0.85f + text.greenF() * 0.15f,
                            base.blueF() * 0.85f + text.blueF() * 0.15f);
}

}  // namespace

// ---------------------------------------------------------------------------------------

CPropertyTree::CPropertyTree(CPropertyGrid* grid) : QTreeWidget(grid), m_pGrid(grid) {
    setColumnCount(2);
    setHeaderLabels({QString(), QString()});
    header()->setStretchLastSection(true);
    header()->setSectionResizeMode(0, QHeaderView::Interactive);
    setFrameShape(QFrame::NoFrame);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRootIsDecorated(true);
    setAllColumnsShowFocus(false);
    setMouseTracking(true);
    setIndentation(fontMetrics().height());
}

bool CPropertyTree::NearDivider(int x) const {
    return std::abs(x - columnWidth(0)) <= kDividerGrip;
}

void CPropertyTree::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && NearDivider(pos.x())) {
        m_bDragging = true;
        return;
    }
    QTreeWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(pos);
    CGridProperty* property = m_pGrid->PropertyAt(index);
    if (property && index.column() == 1 && !m_pGrid->IsEditing(property))
        m_pGrid->StartEdit(property);
}

void CPropertyTree::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    if (m_bDragging) {
        const int margin = indentation() + 2 * kDividerGrip;
        setColumnWidth(0, std::clamp(x, margin, std::max(margin, viewport()->width() - margin)));
        return;
    }
    if (NearDivider(x))
        viewport()->setCursor(Qt::SplitHCursor);
    else
        viewport()->unsetCursor();
    QTreeWidget::mouseMoveEvent(event);
}

void CPropertyTree::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bDragging) {
        m_bDragging = false;
        return;
    }
    QTreeWidget::mouseReleaseEvent(event);
}

void CPropertyTree::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    setColumnWidth(0, viewport()->width() / 2);
}

void CPropertyTree::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeWidget::currentChanged(current, previous);
    m_pGrid->UpdateDescription();
}

bool CPropertyTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Only values are edited, whichever cell of the row is current.
    if (index.column() == 0 && m_pGrid->PropertyAt(index))
        return QTreeWidget::edit(index.siblingAtColumn(1), trigger, event);
    return QTreeWidget::edit(index, trigger, event);
}

void CPropertyTree::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    CPropertyGroup* group = m_pGrid->GroupAt(index);
    if (!group) {
        QTreeWidget::drawRow(painter, option, index);
        return;
    }
    const QPalette& pal = palette();
    const QRect row = option.rect;
    painter->save();
    painter->fillRect(row, pal.color(QPalette::Button));

    // A small triangle: down while open, right while closed.
    const QPointF c(row.left() + indentation() / 2.0, row.top() + row.height() / 2.0);
    const qreal a = std::max(2.5, indentation() / 5.0);
    QPolygonF arrow;
    if (isExpanded(index))
        arrow << QPointF(c.x() - a, c.y() - a / 2) << QPointF(c.x() + a, c.y() - a / 2)
              << QPointF(c.x(), c.y() + a / 2 + 1);
    else
        arrow << QPointF(c.x() - a / 2, c.y() - a) << QPointF(c.x() - a / 2, c.y() + a)
              << QPointF(c.x() + a / 2 + 1, c.y());
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(pal.color(QPalette::ButtonText));
    painter->drawPolygon(arrow);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);

    QFont bold = font();
    bold.setBold(true);
    painter->setFont(bold);
    QRect textRect(row.left() + indentation(), row.top(), row.width() - indentation(),
                   row.height());
    if (!m_pGrid->IsGroupNameFullWidth()) textRect.setRight(columnWidth(0));
    const bool selected = selectionModel()->isSelected(index);
    const QString text = QFontMetrics(bold).elidedText(group->GetName(), Qt::ElideRight,
                                                       textRect.width() - 2 * kTextMargin);
    QRect textBox = painter->boundingRect(textRect.adjusted(kTextMargin, 0, 0, 0),
                                          Qt::AlignLeft | Qt::AlignVCenter, text);
    if (selected) {
        painter->fillRect(textBox.adjusted(-2, 1, 2, -1), pal.color(QPalette::Highlight));
        painter->setPen(pal.color(QPalette::HighlightedText));
    } else {
        painter->setPen(pal.color(QPalette::ButtonText));
    }
    painter->drawText(textRect.adjusted(kTextMargin, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      text);
    painter->setPen(GridLineColor(pal));
    painter->drawLine(row.bottomLeft(), row.bottomRight());
    painter->restore();
}

void CPropertyTree::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex&) const {
    // The gutter left of the properties takes the group colour, like a margin.
    painter->fillRect(rect, palette().color(QPalette::Button));
}

// ---------------------------------------------------------------------------------------

CPropertyDelegate::CPropertyDelegate(CPropertyGrid* grid)
    : QStyledItemDelegate(grid), m_pGrid(grid) {}

QWidget* CPropertyDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                         const QModelIndex& index) const {
    CGridProperty* property = m_pGrid->PropertyAt(index);
    if (!property || index.column() != 1) return nullptr;
    CPropertyEditor* editor = property->CreateEditor(parent);
    auto* self = const_cast<CPropertyDelegate*>(this);
    connect(editor, &CPropertyEditor::commitRequested, self,
            [self, editor](bool bClose) { self->OnCommitRequested(editor, bClose); });
    connect(editor, &CPropertyEditor::cancelRequested, self,
            [self, editor] { self->CloseWithoutCommit(editor); });
    m_pGrid->m_pEditor = editor;
    return editor;
}

void CPropertyDelegate::setEditorData(QWidget*, const QModelIndex&) const {
    // Editors load their value when made; a refresh of the row must not undo typing.
}

void CPropertyDelegate::setModelData(QWidget* widget, QAbstractItemModel*,
                                     const QModelIndex&) const {
    // The view commits before it ends the editor on its own (another row became current).
    auto* editor = static_cast<CPropertyEditor*>(widget);
    if (editor->IsDone()) return;
    editor->SetDone();
    editor->GetProperty()->CommitEditor(editor);
}

void CPropertyDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                             const QModelIndex&) const {
    QRect r = option.rect;
    r.setLeft(r.left() + 1);
    r.setBottom(r.bottom() - 1);
    editor->setGeometry(r);
}

void CPropertyDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    if (m_pGrid->m_pEditor == editor) m_pGrid->m_pEditor = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
}

bool CPropertyDelegate::eventFilter(QObject*, QEvent*) {
    return false;
}

void CPropertyDelegate::OnCommitRequested(CPropertyEditor* editor, bool bClose) {
    if (editor->IsDone()) return;
    QPointer<CPropertyEditor> guard(editor);
    if (bClose) editor->SetDone();
    // The owner hears of the change before the edit ends.
    editor->GetProperty()->CommitEditor(editor);
    if (bClose && guard) emit closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void CPropertyDelegate::CloseWithoutCommit(CPropertyEditor* editor) {
    editor->SetDone();
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void CPropertyDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    CGridProperty* property = m_pGrid->PropertyAt(index);
    if (!property) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt(option);
    const QPalette& pal = option.palette;
    painter->save();
    if (m_pGrid->IsMarkModifiedProperties() && property->IsModified()) opt.font.setBold(true);
    opt.fontMetrics = QFontMetrics(opt.font);
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    painter->setFont(opt.font);
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    if (index.column() == 0) {
        painter->fillRect(cell, pal.color(selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect textRect = cell.adjusted(kTextMargin, 0, -kTextMargin, 0);
        painter->drawText(
            textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            opt.fontMetrics.elidedText(property->GetName(), Qt::ElideRight, textRect.width()));
        painter->setPen(GridLineColor(pal));
        painter->drawLine(cell.topRight(), cell.bottomRight());
    } else {
        painter->fillRect(cell, pal.color(QPalette::Base));
        painter->setPen(pal.color(QPalette::Text));
        property->OnDrawValue(painter, opt, cell);
    }
    painter->setPen(GridLineColor(pal));
    painter->drawLine(cell.bottomLeft(), cell.bottomRight());
    painter->restore();
}

QSize CPropertyDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.fontMetrics.horizontalAdvance(u'M') * 4, option.fontMetrics.height() + 8};
}

// ---------------------------------------------------------------------------------------

CDescriptionArea::CDescriptionArea(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CDescriptionArea::SetText(const QString& name, const QString& description) {
    m_strName = name;
    m_strDescription = description;
    update();
}

void CDescriptionArea::SetRows(int nRows) {
    m_nRows = std::max(1, nRows);
    updateGeometry();
}

QSize CDescriptionArea::sizeHint() const {
    const int line = fontMetrics().lineSpacing();
    return {100, m_nRows * line + line / 2 + 8};
}

void CDescriptionArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Window));
    p.setPen(GridLineColor(pal));
    p.drawLine(rect().topLeft(), rect().topRight());
    const QRect area = rect().adjusted(kTextMargin, 4, -kTextMargin, -4);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(pal.color(QPalette::WindowText));
    const int line = fontMetrics().lineSpacing();
    p.drawText(QRect(area.left(), area.top(), area.width(), line),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               QFontMetrics(bold).elidedText(m_strName, Qt::ElideRight, area.width()));
    p.setFont(font());
    p.drawText(area.adjusted(0, line, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               m_strDescription);
}

void CDescriptionArea::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) updateGeometry();
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------------------------------

CPropertyGrid::CPropertyGrid(QWidget* parent)
    : QWidget(parent),
      m_pTree(new CPropertyTree(this)),
      m_pDelegate(new CPropertyDelegate(this)),
      m_pDescription(new CDescriptionArea(this)) {
    m_pTree->setItemDelegate(m_pDelegate);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pTree, 1);
    layout->addWidget(m_pDescription);
    setFocusProxy(m_pTree);
}

CPropertyGrid::~CPropertyGrid() {
    // Editors and items go before the properties they point to.
    delete m_pTree;
    m_pTree = nullptr;
}

void CPropertyGrid::EnableHeaderCtrl(bool bEnable) {
    m_pTree->setHeaderHidden(!bEnable);
}
void CPropertyGrid::EnableDescriptionArea(bool bEnable) {
    m_pDescription->setVisible(bEnable);
}
void CPropertyGrid::SetDescriptionRows(int nRows) {
    m_pDescription->SetRows(nRows);
}

void CPropertyGrid::MarkModifiedProperties(bool bMark) {
    m_bMarkModified = bMark;
    m_pTree->viewport()->update();
}

void CPropertyGrid::SetGroupNameFullWidth(bool bSet) {
    m_bGroupNameFullWidth = bSet;
    m_pTree->viewport()->update();
}

void CPropertyGrid::AdjustLayout() {
    m_pTree->setColumnWidth(0, m_pTree->viewport()->width() / 2);
    m_pTree->viewport()->update();
}

void CPropertyGrid::AddProperty(CPropertyGroup* group) {
    m_groups.emplace_back(group);
    auto* groupItem = new QTreeWidgetItem(m_pTree);
    groupItem->setText(0, group->GetName());
    groupItem->setData(0, kGroupRole, QVariant::fromValue(static_cast<void*>(group)));
    groupItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    groupItem->setFirstColumnSpanned(true);
    group->m_pItem = groupItem;
    group->m_pGrid = this;
    for (int i = 0; i < group->GetSubItemsCount(); ++i) AttachProperty(group, group->GetSubItem(i));
    groupItem->setExpanded(true);
    AdjustLayout();
}

void CPropertyGrid::AttachProperty(CPropertyGroup* group, CGridProperty* property) {
    auto* item = new QTreeWidgetItem(group->m_pItem);
    item->setText(0, property->GetName());
    item->setText(1, property->FormatProperty());
    item->setData(0, kPropertyRole, QVariant::fromValue(static_cast<void*>(property)));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    item->setToolTip(0, property->GetDescription());
    SetValueToolTip(item, property);
    property->m_pGrid = this;
    property->m_pItem = item;
    item->setHidden(!property->IsVisible());
}

void CPropertyGrid::SetValueToolTip(QTreeWidgetItem* item, const CGridProperty* property) {
    // A path is often wider than its cell: the whole of it shows on hovering.
    if (dynamic_cast<const CGridFileProperty*>(property))
        item->setToolTip(1, property->FormatProperty());
}

CGridProperty* CPropertyGrid::PropertyAt(const QModelIndex& index) const {
    if (!index.isValid()) return nullptr;
    return static_cast<CGridProperty*>(index.siblingAtColumn(0).data(kPropertyRole).value<void*>());
}

CPropertyGroup* CPropertyGrid::GroupAt(const QModelIndex& index) const {
    if (!index.isValid()) return nullptr;
    return static_cast<CPropertyGroup*>(index.siblingAtColumn(0).data(kGroupRole).value<void*>());
}

CGridProperty* CPropertyGrid::CurrentProperty() const {
    return PropertyAt(m_pTree->currentIndex());
}

void CPropertyGrid::OnPropertyCommitted(CGridProperty* property) {
    emit propertyChanged(m_nCtrlId, property);
}

void CPropertyGrid::RefreshItem(CGridProperty* property) {
    if (!property->m_pItem || !m_pTree) return;
    property->m_pItem->setText(1, property->FormatProperty());
    SetValueToolTip(property->m_pItem, property);
    m_pTree->viewport()->update();
}

void CPropertyGrid::UpdateDescription() {
    const QModelIndex index = m_pTree->currentIndex();
    if (CGridProperty* property = PropertyAt(index))
        m_pDescription->SetText(property->GetName(), property->GetDescription());
    else if (CPropertyGroup* group = GroupAt(index))
        m_pDescription->SetText(group->GetName(), QString());
    else
        m_pDescription->SetText(QString(), QString());
}

bool CPropertyGrid::IsEditing(const CGridProperty* property) const {
    return m_pEditor && !m_pEditor->IsDone() && m_pEditor->GetProperty() == property;
}

void CPropertyGrid::EndEdit() {
    if (m_pEditor && !m_pEditor->IsDone()) m_pDelegate->CloseWithoutCommit(m_pEditor);
}

void CPropertyGrid::StartEdit(CGridProperty* property) {
    if (!property->m_pItem || property->m_pItem->isHidden() || !m_pTree) return;
    const QModelIndex index = m_pTree->indexFromItem(property->m_pItem, 1);
    m_pTree->setCurrentIndex(index);
    m_pTree->edit(index);
}

void CPropertyGrid::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange && m_pTree)
        m_pTree->setIndentation(QFontMetrics(font()).height());
    QWidget::changeEvent(event);
}
