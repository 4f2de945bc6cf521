#include "property_editors.h"

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyleOptionSpinBox>
#include <QToolButton>

#include "grid_property.h"
#include "typed_value.h"

namespace {

QColor ToQColor(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
COLORREF FromQColor(const QColor& c) {
    return RGBColor(c.red(), c.green(), c.blue());
}

QHBoxLayout* FlatRow(QWidget* owner) {
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// A colour square with a thin frame, as the value cell draws it.
class CColorSwatch : public QWidget {
public:
    CColorSwatch(COLORREF color, QWidget* parent) : QWidget(parent), m_color(color) {}
    void SetColor(COLORREF c) {
        m_color = c;
        update();
    }
    QSize sizeHint() const override { return {height(), height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int side = height();
        QRect r(0, 0, side, side);
        r.adjust(2, 2, -1, -1);
        p.fillRect(r, ToQColor(m_color));
        p.setPen(Qt::black);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }

private:
    COLORREF m_color;
};

// One palette entry of the drop-down.
class CColorCell : public QAbstractButton {
public:
    CColorCell(COLORREF color, bool bCurrent, QWidget* parent)
        : QAbstractButton(parent), m_color(color), m_bCurrent(bCurrent) {
        setFocusPolicy(Qt::NoFocus);
        setToolTip(FormatColorText(color));
        setAttribute(Qt::WA_Hover);
    }
    QSize sizeHint() const override {
        const int side = fontMetrics().height() + 6;
        return {side, side};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = rect();
        if (m_bCurrent || underMouse()) {
            p.fillRect(r, palette().color(QPalette::Highlight));
        }
        const QRect swatch = r.adjusted(3, 3, -3, -3);
        p.fillRect(swatch, ToQColor(m_color));
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(swatch.adjusted(0, 0, -1, -1));
    }

private:
    COLORREF m_color;
    bool m_bCurrent;
};

}  // namespace

// ---------------------------------------------------------------------------------------

CPropertyEditor::CPropertyEditor(CGridProperty* property, QWidget* parent)
    : QWidget(parent), m_pProperty(property) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    connect(qApp, &QApplication::focusChanged, this, &CPropertyEditor::OnFocusChanged);
}

CPropertyEditor::~CPropertyEditor() {
    // The widget part clears its focus after this destructor; no focus news may reach us then.
    m_bDone = true;
    disconnect(qApp, nullptr, this, nullptr);
}

void CPropertyEditor::WatchKeys(QWidget* widget) {
    widget->installEventFilter(this);
    setFocusProxy(widget);
}

bool CPropertyEditor::Contains(const QObject* object) const {
    for (; object; object = object->parent())
        if (object == this) return true;
    return false;
}

bool CPropertyEditor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && !m_bDone) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
                emit commitRequested(true);
                return true;
            case Qt::Key_Escape:
                emit cancelRequested();
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CPropertyEditor::OnFocusChanged(QWidget* old, QWidget* now) {
    if (m_bDone || m_bInDialog || !now || Contains(now)) return;
    // A popup of ours closing hands the focus back before its pick arrives.
    if (old && Contains(old) && old->window() != window()) return;
    emit commitRequested(true);
}

// ---------------------------------------------------------------------------------------

CTextEditor::CTextEditor(CGridProperty* property, QWidget* parent)
    : CPropertyEditor(property, parent), m_pEdit(new QLineEdit(this)) {
    FlatRow(this)->addWidget(m_pEdit);
    m_pEdit->setFrame(false);
    m_pEdit->setText(property->FormatProperty());
    m_pEdit->selectAll();
    WatchKeys(m_pEdit);
}

QString CTextEditor::Text() const {
    return m_pEdit->text();
}

// ---------------------------------------------------------------------------------------

CListEditor::CListEditor(CGridProperty* property, QWidget* parent)
    : CPropertyEditor(property, parent), m_pCombo(new QComboBox(this)) {
    FlatRow(this)->addWidget(m_pCombo);
    m_pCombo->setFrame(false);
    m_pCombo->setEditable(property->IsAllowEdit());
    m_pCombo->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 0; i < property->GetOptionCount(); ++i) m_pCombo->addItem(property->GetOption(i));
    const QString current = property->FormatProperty();
    m_pCombo->setCurrentIndex(
        m_pCombo->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive));
    if (m_pCombo->isEditable()) {
        // Typed numbers are taken as typed, not completed to a suggestion.
        m_pCombo->setCompleter(nullptr);
        m_pCombo->setEditText(current);
        m_pCombo->lineEdit()->selectAll();
    }
    WatchKeys(m_pCombo);
    connect(m_pCombo, &QComboBox::activated, this, [this] {
        if (!IsDone()) emit commitRequested(true);
    });
}

QString CListEditor::Text() const {
    return m_pCombo->currentText();
}

// ---------------------------------------------------------------------------------------

CSpinBox::CSpinBox(int nMin, int nMax, QWidget* parent)
    : QAbstractSpinBox(parent), m_nMin(nMin), m_nMax(nMax) {
    // Typed text is taken as typed (the base accepts any text); only the arrows know the range.
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
}

void CSpinBox::stepBy(int steps) {
    const int64_t next = int64_t{ParseTypedInt(text())} + steps;
    const int value = static_cast<int>(std::clamp<int64_t>(next, m_nMin, m_nMax));
    lineEdit()->setText(QString::number(value));
    lineEdit()->selectAll();
    emit stepped();
}

void CSpinBox::SetText(const QString& text) {
    lineEdit()->setText(text);
}

QAbstractSpinBox::StepEnabled CSpinBox::stepEnabled() const {
    const int value = ParseTypedInt(text());
    StepEnabled flags = StepNone;
    if (value < m_nMax) flags |= StepUpEnabled;
    if (value > m_nMin) flags |= StepDownEnabled;
    return flags;
}

QRect CSpinBox::ArrowRect(bool bUp) const {
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_SpinBox, &option,
                                   bUp ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown, this);
}

CSpinEditor::CSpinEditor(CGridProperty* property, QWidget* parent)
    : CPropertyEditor(property, parent),
      m_pSpin(new CSpinBox(property->SpinMin(), property->SpinMax(), this)) {
    FlatRow(this)->addWidget(m_pSpin);
    m_pSpin->setFrame(false);
    m_pSpin->SetText(property->FormatProperty());
    m_pSpin->selectAll();
    WatchKeys(m_pSpin);
    // Every arrow click is a committed change; the editor stays open.
    connect(m_pSpin, &CSpinBox::stepped, this, [this] {
        if (!IsDone()) emit commitRequested(false);
    });
}

QString CSpinEditor::Text() const {
    return m_pSpin->text();
}

// ---------------------------------------------------------------------------------------

CColorPopup::CColorPopup(const CGridColorProperty* property, QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(2);
    constexpr int kColumns = 5;
    bool currentMarked = false;
    for (int i = 0; i < CGridColorProperty::kPaletteEntries; ++i) {
        const COLORREF color = property->GetPaletteEntry(i);
        const bool current = !currentMarked && color == property->GetColor();
        currentMarked = currentMarked || current;
        auto* cell = new CColorCell(color, current, this);
        grid->addWidget(cell, i / kColumns, i % kColumns);
        m_cells.append(cell);
        // The pick is taken before the popup closes: closing moves the focus, which must
        // not end the edit first.
        connect(cell, &QAbstractButton::clicked, this, [this, color] {
            emit colorPicked(color);
            hide();
        });
    }
    if (property->HasOtherButton()) {
        auto* other = new QPushButton(property->GetOtherButtonText(), this);
        other->setFlat(true);
        other->setFocusPolicy(Qt::NoFocus);
        grid->addWidget(other, CGridColorProperty::kPaletteEntries / kColumns, 0, 1, kColumns);
        m_pOther = other;
        connect(other, &QPushButton::clicked, this, [this] {
            emit otherRequested();
            hide();
        });
    }
}

QWidget* CColorPopup::CellButton(int i) const {
    return m_cells.value(i);
}

CColorEditor::CColorEditor(CGridColorProperty* property, QWidget* parent)
    : CPropertyEditor(property, parent),
      m_pColorProperty(property),
      m_pSwatch(new CColorSwatch(property->GetColor(), this)),
      m_pEdit(new QLineEdit(this)),
      m_pDrop(new QToolButton(this)) {
    auto* row = FlatRow(this);
    row->addWidget(m_pSwatch);
    row->addWidget(m_pEdit, 1);
    row->addWidget(m_pDrop);
    m_pEdit->setFrame(false);
    m_pEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]*"), m_pEdit));
    m_pEdit->setText(property->FormatProperty());
    m_pEdit->selectAll();
    m_pDrop->setObjectName("dropButton");
    m_pDrop->setArrowType(Qt::DownArrow);
    m_pDrop->setAutoRaise(true);
    m_pDrop->setFocusPolicy(Qt::NoFocus);
    WatchKeys(m_pEdit);
    connect(m_pDrop, &QToolButton::clicked, this, &CColorEditor::ShowPopup);
}

void CColorEditor::resizeEvent(QResizeEvent* event) {
    CPropertyEditor::resizeEvent(event);
    m_pSwatch->setFixedWidth(height());
    m_pDrop->setFixedWidth(height());
}

QString CColorEditor::Text() const {
    return m_pEdit->text();
}

void CColorEditor::ShowPopup() {
    if (IsDone()) return;
    delete m_pPopup;
    m_pPopup = new CColorPopup(m_pColorProperty, this);
    connect(m_pPopup, &CColorPopup::colorPicked, this, &CColorEditor::Pick);
    connect(m_pPopup, &CColorPopup::otherRequested, this, [this] {
        // The dialog opens once the popup has closed; until it is done the edit goes on.
        SetInDialog(true);
        QMetaObject::invokeMethod(this, &CColorEditor::RunColorDialog, Qt::QueuedConnection);
    });
    m_pPopup->adjustSize();
    QPoint pos = mapToGlobal(QPoint(0, height()));
    if (const QScreen* screen = this->screen()) {
        const QRect avail = screen->availableGeometry();
        pos.setX(std::clamp(pos.x(), avail.left(),
                            std::max(avail.left(), avail.right() - m_pPopup->width())));
        if (pos.y() + m_pPopup->height() > avail.bottom())
            pos.setY(std::max(avail.top(), mapToGlobal(QPoint(0, 0)).y() - m_pPopup->height()));
    }
    m_pPopup->move(pos);
    m_pPopup->show();
}

void CColorEditor::Pick(COLORREF color) {
    if (IsDone()) return;
    m_picked = color;
    m_pEdit->setText(FormatColorText(color));
    static_cast<CColorSwatch*>(m_pSwatch)->SetColor(color);
    emit commitRequested(true);
}

void CColorEditor::RunColorDialog() {
    if (IsDone()) {
        SetInDialog(false);
        return;
    }
    // The dialog belongs to the window, not to the editor: a rebinding may end the editor
    // while the dialog is open.
    QPointer<CColorEditor> self(this);
    SetInDialog(true);
    QColorDialog dialog(ToQColor(m_pColorProperty->GetColor()), window());
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    const QColor chosen = dialog.selectedColor();
    if (!self) return;
    SetInDialog(false);
    if (accepted && chosen.isValid()) Pick(FromQColor(chosen));
}

// ---------------------------------------------------------------------------------------

CFileEditor::CFileEditor(CGridFileProperty* property, QWidget* parent)
    : CPropertyEditor(property, parent),
      m_pFileProperty(property),
      m_pEdit(new QLineEdit(this)),
      m_pBrowse(new QToolButton(this)) {
    auto* row = FlatRow(this);
    row->addWidget(m_pEdit, 1);
    row->addWidget(m_pBrowse);
    m_pEdit->setFrame(false);
    m_pEdit->setText(property->FormatProperty());
    m_pEdit->selectAll();
    m_pBrowse->setObjectName("browseButton");
    m_pBrowse->setText("...");
    m_pBrowse->setAutoRaise(true);
    m_pBrowse->setFocusPolicy(Qt::NoFocus);
    WatchKeys(m_pEdit);
    connect(m_pBrowse, &QToolButton::clicked, this, &CFileEditor::Browse, Qt::QueuedConnection);
}

QString CFileEditor::Text() const {
    return m_pEdit->text();
}

void CFileEditor::Browse() {
    if (IsDone()) return;
    QPointer<CFileEditor> self(this);
    SetInDialog(true);
    const QString shown = m_pEdit->text();
    QFileDialog dialog(window());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(m_pFileProperty->GetDefaultExt());
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(m_pFileProperty->GetNameFilters());
    if (!shown.isEmpty()) {
        const QFileInfo info(shown);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    const bool accepted = dialog.exec() == QDialog::Accepted;
    const QString chosen = dialog.selectedFiles().value(0);
    if (!self) return;
    SetInDialog(false);
    if (!accepted || chosen.isEmpty() || chosen == shown) return;
    m_pEdit->setText(chosen);
    emit commitRequested(true);
}
