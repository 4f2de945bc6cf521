#pragma once
// Drives a property grid the way a user does: clicks on value cells, typing, picking.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "property_editors.h"
#include "property_grid.h"

inline QRect ValueRect(CPropertyGrid& grid, CGridProperty* property) {
    CPropertyTree* tree = grid.Tree();
    return tree->visualRect(tree->indexFromItem(property->GetItem(), 1));
}

inline QRect NameRect(CPropertyGrid& grid, CGridProperty* property) {
    CPropertyTree* tree = grid.Tree();
    return tree->visualRect(tree->indexFromItem(property->GetItem(), 0));
}

// Clicks the value cell; returns the editor that opened (null if none).
inline CPropertyEditor* ClickValue(CPropertyGrid& grid, CGridProperty* property) {
    const QRect r = ValueRect(grid, property);
    if (!r.isValid()) return nullptr;
    QTest::mouseClick(grid.Tree()->viewport(), Qt::LeftButton, {}, r.center());
    return grid.CurrentEditor();
}

inline QWidget* KeyTarget(CPropertyEditor* editor) {
    return editor->focusProxy() ? editor->focusProxy() : editor;
}

// Opens the editor, types over the shown text and presses Enter.
inline void TypeValue(CPropertyGrid& grid, CGridProperty* property, const QString& text) {
    CPropertyEditor* editor = ClickValue(grid, property);
    ASSERT_NE(editor, nullptr) << property->GetName().toStdString();
    QWidget* target = KeyTarget(editor);
    QTest::keyClicks(target, text);
    QTest::keyClick(target, Qt::Key_Return);
    QApplication::processEvents();
}

// Opens the drop-down list of a list property and clicks option i.
inline void PickOption(CPropertyGrid& grid, CGridProperty* property, int i) {
    auto* editor = qobject_cast<CListEditor*>(ClickValue(grid, property));
    ASSERT_NE(editor, nullptr);
    QComboBox* combo = editor->ComboBox();
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    ASSERT_TRUE(list->isVisible());
    const QRect r = list->visualRect(list->model()->index(i, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QApplication::processEvents();
}

// Opens a colour property's palette and clicks entry i.
inline void PickPaletteEntry(CPropertyGrid& grid, CGridProperty* property, int i) {
    auto* editor = qobject_cast<CColorEditor*>(ClickValue(grid, property));
    ASSERT_NE(editor, nullptr);
    QTest::mouseClick(editor->DropButton(), Qt::LeftButton);
    ASSERT_NE(editor->Popup(), nullptr);
    ASSERT_TRUE(editor->Popup()->isVisible());
    QTest::mouseClick(editor->Popup()->CellButton(i), Qt::LeftButton);
    QApplication::processEvents();
}

inline void ShowActive(QWidget& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

// Runs `act` on the next modal dialog of type D once it is open.
template <class D, class F>
void OnModalDialog(F act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

// Lets queued work run until the condition holds (a dialog opened and closed, say).
#define QTRY_VERIFY_WITH_TIMEOUT_GTEST(cond)                          \
    do {                                                              \
        for (int i_ = 0; i_ < 500 && !(cond); ++i_) QTest::qWait(10); \
        EXPECT_TRUE(cond);                                            \
    } while (0)
