#pragma once
// In-place editors of the property grid. Each editor ends itself: Enter, Tab or focus
// moving elsewhere commit, Escape cancels, a pick from a list or palette commits at once.
#include <optional>

#include <QAbstractSpinBox>
#include <QFrame>
#include <QWidget>

#include "image_settings.h"

class CGridProperty;
class CGridColorProperty;
class CGridFileProperty;
class QComboBox;
class QLineEdit;
class QToolButton;

class CPropertyEditor : public QWidget {
    Q_OBJECT
public:
    CPropertyEditor(CGridProperty* property, QWidget* parent);
    ~CPropertyEditor() override;

    CGridProperty* GetProperty() const { return m_pProperty; }
    // The text the editor holds now (typed or chosen).
    virtual QString Text() const = 0;
    // Once ended, an editor commits nothing more.
    bool IsDone() const { return m_bDone; }
    void SetDone() { m_bDone = true; }

signals:
    void commitRequested(bool bClose);
    void cancelRequested();

protected:
    // The child that takes the keys.
    void WatchKeys(QWidget* widget);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // While a dialog of the editor is open, focus leaving the editor does not end it.
    void SetInDialog(bool bIn) { m_bInDialog = bIn; }
    bool Contains(const QObject* object) const;

private:
    void OnFocusChanged(QWidget* old, QWidget* now);

    CGridProperty* m_pProperty;
    bool m_bDone = false;
    bool m_bInDialog = false;
};

class CTextEditor : public CPropertyEditor {
    Q_OBJECT
public:
    CTextEditor(CGridProperty* property, QWidget* parent);
    QString Text() const override;
    QLineEdit* LineEdit() const { return m_pEdit; }

private:
    QLineEdit* m_pEdit;
};

// Options in a drop-down list, typed text allowed or not.
class CListEditor : public CPropertyEditor {
    Q_OBJECT
public:
    CListEditor(CGridProperty* property, QWidget* parent);
    QString Text() const override;
    QComboBox* ComboBox() const { return m_pCombo; }

private:
    QComboBox* m_pCombo;
};

// A spin box whose arrows stay in the range while typed text is taken as it is.
class CSpinBox : public QAbstractSpinBox {
    Q_OBJECT
public:
    CSpinBox(int nMin, int nMax, QWidget* parent);
    void stepBy(int steps) override;
    void SetText(const QString& text);
    // Where the up or down arrow is, for the arrow of the given direction.
    QRect ArrowRect(bool bUp) const;

signals:
    void stepped();

protected:
    StepEnabled stepEnabled() const override;

private:
    int m_nMin;
    int m_nMax;
};

class CSpinEditor : public CPropertyEditor {
    Q_OBJECT
public:
    CSpinEditor(CGridProperty* property, QWidget* parent);
    QString Text() const override;
    CSpinBox* SpinBox() const { return m_pSpin; }

private:
    CSpinBox* m_pSpin;
};

// The drop-down of a colour editor: the property's palette in rows of 5 and, where
// enabled, the button for the full colour dialog.
class CColorPopup : public QFrame {
    Q_OBJECT
public:
    CColorPopup(const CGridColorProperty* property, QWidget* parent);
    // The button of palette entry i, and the "other colours" button (null when off).
    QWidget* CellButton(int i) const;
    QWidget* OtherButton() const { return m_pOther; }

signals:
    void colorPicked(COLORREF color);
    void otherRequested();

private:
    QList<QWidget*> m_cells;
    QWidget* m_pOther = nullptr;
};

class CColorEditor : public CPropertyEditor {
    Q_OBJECT
public:
    CColorEditor(CGridColorProperty* property, QWidget* parent);
    QString Text() const override;
    // The colour chosen from the palette or the dialog, if any.
    std::optional<COLORREF> PickedColor() const { return m_picked; }
    QLineEdit* LineEdit() const { return m_pEdit; }
    QToolButton* DropButton() const { return m_pDrop; }
    CColorPopup* Popup() const { return m_pPopup; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowPopup();
    void Pick(COLORREF color);
    void RunColorDialog();

    CGridColorProperty* m_pColorProperty;
    QWidget* m_pSwatch;
    QLineEdit* m_pEdit;
    QToolButton* m_pDrop;
    CColorPopup* m_pPopup = nullptr;
    std::optional<COLORREF> m_picked;
};

class CFileEditor : public CPropertyEditor {
    Q_OBJECT
public:
    CFileEditor(CGridFileProperty* property, QWidget* parent);
    QString Text() const override;
    QLineEdit* LineEdit() const { return m_pEdit; }
    QToolButton* BrowseButton() const { return m_pBrowse; }

private:
    void Browse();

    CGridFileProperty* m_pFileProperty;
    QLineEdit* m_pEdit;
    QToolButton* m_pBrowse;
};
