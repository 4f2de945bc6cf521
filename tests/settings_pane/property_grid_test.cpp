#include <gtest/gtest.h>

#include <vector>

#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "grid_driver.h"
#include "my_color_property.h"
#include "my_combo_property.h"
#include "my_int_property.h"
#include "my_property_grid_ctrl.h"
#include "property_value_text.h"

namespace {

class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        grid.SetDlgCtrlID(152);
        grid.EnableHeaderCtrl(false);
        grid.MarkModifiedProperties(true);
        auto* numbers = new CPropertyGroup("numbers");
        width = new CMyIntProperty("width", 1920, "the width");
        for (const char* s : {"1920", "1280", "800"}) width->AddOption(s);
        numbers->AddSubItem(width);
        quality = new CMyIntProperty("quality", 100, "jpeg quality");
        quality->EnableSpinControl(true, 1, 100);
        numbers->AddSubItem(quality);
        opacity = new CMyIntProperty("opacity", 0, "an opacity");
        opacity->EnableSpinControl(true, 0, 100);
        numbers->AddSubItem(opacity);
        grid.AddProperty(numbers);

        auto* looks = new CPropertyGroup("looks");
        mode = new CMyComboProperty("mode", "solid", "background mode");
        mode->AllowEdit(false);
        mode->AddDataOption("solid", 0);
        mode->AddDataOption("across", 1);
        mode->AddDataOption("down", 3);
        looks->AddSubItem(mode);
        color = new CMyColorProperty("colour", RGBColor(70, 200, 255), "a colour");
        color->EnableOtherButton("other");
        looks->AddSubItem(color);
        file = new CGridFileProperty("picture", "", "png", "Pictures|*.png;*.jpg|", "a file");
        looks->AddSubItem(file);
        grid.AddProperty(looks);

        QObject::connect(&grid, &CPropertyGrid::propertyChanged, [this](int id, CGridProperty* p) {
            ids.push_back(id);
            changes.push_back(p);
        });
        grid.resize(360, 420);
        ShowActive(grid);
    }

    CMyMFCPropertyGridCtrl grid;
    CMyIntProperty* width = nullptr;
    CMyIntProperty* quality = nullptr;
    CMyIntProperty* opacity = nullptr;
    CMyComboProperty* mode = nullptr;
    CMyColorProperty* color = nullptr;
    CGridFileProperty* file = nullptr;
    std::vector<int> ids;
    std::vector<CGridProperty*> changes;
};

TEST_F(GridTest, TypedIntegersConvertAndNotifyOncePerChange) {
    const struct {
        const char* typed;
        int32_t value;
        const char* shown;
    } cases[] = {
        {"12abc", 12, "12"},
        {"abc", 0, "0"},
        {" 7", 7, "7"},
        {"-40", -40, "-40"},
        {"99999999999", 2147483647, "2147483647"},
    };
    for (const auto& c : cases) {
        changes.clear();
        TypeValue(grid, width, c.typed);
        EXPECT_EQ(width->GetIntValue(), c.value) << c.typed;
        EXPECT_EQ(GetValueText(width), c.shown) << c.typed;
        ASSERT_EQ(changes.size(), 1u) << c.typed;
        EXPECT_EQ(changes[0], width);
        EXPECT_EQ(ids.back(), 152);
        EXPECT_EQ(grid.CurrentEditor(), nullptr) << "Enter ends the edit";
    }
    // The same text again is no change.
    changes.clear();
    TypeValue(grid, width, "2147483647");
    EXPECT_TRUE(changes.empty());
    // Escape drops what was typed.
    CPropertyEditor* editor = ClickValue(grid, width);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(KeyTarget(editor), "555");
    QTest::keyClick(KeyTarget(editor), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(width->GetIntValue(), 2147483647);
}

TEST_F(GridTest, EditorOpensWithTextSelectedAndCommitsWhenFocusLeaves) {
    auto* editor = qobject_cast<CListEditor*>(ClickValue(grid, width));
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->ComboBox()->isEditable());
    EXPECT_EQ(editor->ComboBox()->lineEdit()->selectedText(), "1920");
    QTest::keyClicks(KeyTarget(editor), "1280x");
    // Clicking another row ends the edit and keeps what was typed.
    QTest::mouseClick(grid.Tree()->viewport(), Qt::LeftButton, {},
                      NameRect(grid, quality).center());
    QApplication::processEvents();
    EXPECT_EQ(width->GetIntValue(), 1280);
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(grid.CurrentEditor(), nullptr);
}

TEST_F(GridTest, SuggestionPickedFromListNotifiesOnlyWhenDifferent) {
    PickOption(grid, width, 1);
    EXPECT_EQ(width->GetIntValue(), 1280);
    ASSERT_EQ(changes.size(), 1u);
    PickOption(grid, width, 1);
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(GridTest, SpinArrowsStayInRangeTypedValuesDoNot) {
    auto* editor = qobject_cast<CSpinEditor*>(ClickValue(grid, opacity));
    ASSERT_NE(editor, nullptr);
    CSpinBox* spin = editor->SpinBox();
    const QPoint down = spin->ArrowRect(false).center();
    const QPoint up = spin->ArrowRect(true).center();
    // At 0 the down arrow does nothing.
    QTest::mouseClick(spin, Qt::LeftButton, {}, down);
    EXPECT_EQ(opacity->GetIntValue(), 0);
    EXPECT_TRUE(changes.empty());
    // Every click on an arrow is one committed change; the editor stays open.
    for (int i = 1; i <= 3; ++i) {
        QTest::mouseClick(spin, Qt::LeftButton, {}, up);
        EXPECT_EQ(opacity->GetIntValue(), i);
        EXPECT_EQ(changes.size(), static_cast<size_t>(i));
    }
    EXPECT_EQ(grid.CurrentEditor(), editor);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Escape);

    changes.clear();
    TypeValue(grid, opacity, "150");
    EXPECT_EQ(opacity->GetIntValue(), 150);
    EXPECT_EQ(changes.size(), 1u);

    // From above the range an arrow brings the value back to the range, never beyond it.
    editor = qobject_cast<CSpinEditor*>(ClickValue(grid, opacity));
    ASSERT_NE(editor, nullptr);
    QTest::mouseClick(editor->SpinBox(), Qt::LeftButton, {}, up);
    EXPECT_EQ(opacity->GetIntValue(), 150);
    QTest::mouseClick(editor->SpinBox(), Qt::LeftButton, {}, down);
    EXPECT_EQ(opacity->GetIntValue(), 100);
    QTest::mouseClick(editor->SpinBox(), Qt::LeftButton, {}, up);
    EXPECT_EQ(opacity->GetIntValue(), 100);
    EXPECT_EQ(changes.size(), 2u);
}

TEST_F(GridTest, SetIntValueWorksAfterTypingAndWhileEditing) {
    TypeValue(grid, quality, "55");
    ASSERT_EQ(quality->GetIntValue(), 55);
    changes.clear();
    quality->SetIntValue(70);
    EXPECT_EQ(quality->GetIntValue(), 70);
    EXPECT_EQ(GetValueText(quality), "70");

    CPropertyEditor* before = ClickValue(grid, quality);
    ASSERT_NE(before, nullptr);
    QTest::keyClicks(KeyTarget(before), "9");
    quality->SetIntValue(33);
    QApplication::processEvents();
    auto* after = qobject_cast<CSpinEditor*>(grid.CurrentEditor());
    ASSERT_NE(after, nullptr) << "the editor is open again";
    EXPECT_NE(after, before);
    EXPECT_EQ(after->Text(), "33");
    EXPECT_EQ(quality->GetIntValue(), 33);
    // What was typed before is gone; committing the reopened editor changes nothing.
    QTest::keyClick(KeyTarget(after), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(quality->GetIntValue(), 33);
    EXPECT_TRUE(changes.empty()) << "values set from code raise nothing";
}

TEST_F(GridTest, ModifiedMarkFollowsCommitsNotCode) {
    EXPECT_FALSE(width->IsModified());
    TypeValue(grid, width, "800");
    EXPECT_TRUE(width->IsModified());
    width->SetIntValue(1920);
    EXPECT_TRUE(width->IsModified()) << "a value from code leaves the mark alone";
    TypeValue(grid, width, "1280");
    TypeValue(grid, width, "1920");
    EXPECT_FALSE(width->IsModified()) << "back at the initial value";
}

TEST_F(GridTest, FixedListTakesNoTypingAndMapsData) {
    auto* editor = qobject_cast<CListEditor*>(ClickValue(grid, mode));
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->ComboBox()->isEditable());
    QTest::keyClick(KeyTarget(editor), Qt::Key_Escape);

    PickOption(grid, mode, 2);
    EXPECT_EQ(GetValueText(mode), "down");
    EXPECT_EQ(mode->GetSelectedData(), 3);
    EXPECT_EQ(changes.size(), 1u);
    PickOption(grid, mode, 2);
    EXPECT_EQ(changes.size(), 1u) << "the shown option again is no change";

    mode->SelectByData(1);
    EXPECT_EQ(GetValueText(mode), "across");
    mode->SelectByData(42);
    EXPECT_EQ(GetValueText(mode), "across") << "unknown data changes nothing";
    mode->SetValue(QVariant(QString("none of them")));
    EXPECT_EQ(mode->GetSelectedData(), 0);
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(GridTest, DuplicateOptionKeepsOneOptionAndOneData) {
    const int before = mode->GetOptionCount();
    mode->AddDataOption("across", 7);
    EXPECT_EQ(mode->GetOptionCount(), before);
    ASSERT_EQ(mode->m_arrData.size(), static_cast<size_t>(before));
    mode->AddDataOption("corner", 5);
    mode->SelectByData(5);
    EXPECT_EQ(GetValueText(mode), "corner");
    EXPECT_EQ(mode->GetSelectedData(), 5);
    mode->SelectByData(1);
    EXPECT_EQ(mode->GetSelectedData(), 1) << "the refused duplicate left data aligned";
}

TEST_F(GridTest, PaletteColours) {
    // Entry 19 is the current colour: picking it is no change.
    ASSERT_EQ(color->GetPaletteEntry(19), RGBColor(70, 200, 255));
    PickPaletteEntry(grid, color, 19);
    EXPECT_TRUE(changes.empty());
    PickPaletteEntry(grid, color, 2);
    EXPECT_EQ(color->GetColor(), RGBColor(8, 105, 173));
    EXPECT_EQ(GetValueText(color), "0869ad");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], color);
    EXPECT_EQ(grid.CurrentEditor(), nullptr);
}

TEST_F(GridTest, TypedHexColours) {
    const struct {
        const char* keys;
        COLORREF expected;
        size_t notifications;
    } cases[] = {
        {"ff0000", RGBColor(255, 0, 0), 1},
        {"FF0000", RGBColor(255, 0, 0), 0},    // same colour, other spelling
        {"zz00ff00", RGBColor(0, 255, 0), 1},  // keys that are no hex digits do not type
        {"abc", RGBColor(0xab, 0x0c, 0), 1},
    };
    for (const auto& c : cases) {
        changes.clear();
        TypeValue(grid, color, c.keys);
        EXPECT_EQ(color->GetColor(), c.expected) << c.keys;
        EXPECT_EQ(changes.size(), c.notifications) << c.keys;
    }
}

TEST_F(GridTest, OtherButtonOpensFullColourDialog) {
    auto* editor = qobject_cast<CColorEditor*>(ClickValue(grid, color));
    ASSERT_NE(editor, nullptr);
    QTest::mouseClick(editor->DropButton(), Qt::LeftButton);
    ASSERT_NE(editor->Popup()->OtherButton(), nullptr);
    bool sawDialog = false;
    OnModalDialog<QColorDialog>([&](QColorDialog* dialog) {
        sawDialog = true;
        dialog->setCurrentColor(QColor(1, 2, 3));
        dialog->accept();
    });
    QTest::mouseClick(editor->Popup()->OtherButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT_GTEST(sawDialog);
    QApplication::processEvents();
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(color->GetColor(), RGBColor(1, 2, 3));
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(GridTest, BrowseButtonStartsAtShownPathAndTakesChosenFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a.png"), b = dir.filePath("b.png");
    for (const QString& path : {a, b}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    file->SetValue(QVariant(a));
    auto browse = [&](const QString& choose, QString* startDir, QStringList* filters) {
        auto* editor = qobject_cast<CFileEditor*>(ClickValue(grid, file));
        ASSERT_NE(editor, nullptr);
        bool seen = false;
        OnModalDialog<QFileDialog>([&](QFileDialog* dialog) {
            seen = true;
            *startDir = dialog->directory().absolutePath();
            *filters = dialog->nameFilters();
            EXPECT_EQ(dialog->defaultSuffix(), "png");
            dialog->selectFile(choose);
            static_cast<QDialog*>(dialog)->accept();
        });
        QTest::mouseClick(editor->BrowseButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT_GTEST(seen);
        QApplication::processEvents();
        EXPECT_TRUE(seen);
    };
    QString start;
    QStringList filters;
    browse(a, &start, &filters);
    EXPECT_EQ(start, QDir(dir.path()).absolutePath());
    EXPECT_EQ(filters, QStringList{"Pictures (*.png *.jpg)"});
    EXPECT_TRUE(changes.empty()) << "the same file is no change";
    browse(b, &start, &filters);
    EXPECT_EQ(GetValueText(file), b);
    EXPECT_EQ(changes.size(), 1u);
    // Clearing the path by typing is a change too.
    CPropertyEditor* editor = ClickValue(grid, file);
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Delete);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
    EXPECT_EQ(GetValueText(file), "");
    EXPECT_EQ(changes.size(), 2u);
}

TEST_F(GridTest, ValueTextIsCutAt259) {
    file->SetValue(QVariant(QString(300, u'x')));
    EXPECT_EQ(GetValueText(file).size(), 259);
    file->SetValue(QVariant(QString(259, u'y')));
    EXPECT_EQ(GetValueText(file), QString(259, u'y'));
}

TEST_F(GridTest, GetIntValueReadsEveryRepresentation) {
    const struct {
        QVariant value;
        int32_t expected;
    } cases[] = {
        {QVariant(int(-7)), -7},      {QVariant::fromValue<short>(12), 12}, {QVariant(3.99), 3},
        {QVariant(-3.99), -3},        {QVariant::fromValue(2.5f), 2},       {QVariant(true), 1},
        {QVariant(false), 0},         {QVariant(QString("42")), 0},         {QVariant(), 0},
        {QVariant(1e12), 2147483647},
    };
    for (const auto& c : cases) {
        width->SetValue(c.value);
        EXPECT_EQ(width->GetIntValue(), c.expected) << c.value.toString().toStdString();
    }
    width->SetIntValue(5);
    EXPECT_EQ(width->GetValue().typeId(), QMetaType::Int);
    EXPECT_TRUE(changes.empty());
}

TEST_F(GridTest, LayoutHalfWidthDividerAndDescription) {
    CPropertyTree* tree = grid.Tree();
    for (int w : {360, 500, 271}) {
        grid.resize(w, 420);
        QApplication::processEvents();
        EXPECT_EQ(tree->DividerPos(), tree->viewport()->width() / 2) << w;
    }
    // Drag the divider.
    const int y = NameRect(grid, width).center().y();
    const int x0 = tree->DividerPos();
    QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, QPoint(x0, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(x0 - 40, y),
                     tree->viewport()->mapToGlobal(QPointF(x0 - 40, y)), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &move);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, QPoint(x0 - 40, y));
    EXPECT_EQ(tree->DividerPos(), x0 - 40);
    EXPECT_EQ(grid.CurrentEditor(), nullptr) << "dragging the divider edits nothing";

    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, NameRect(grid, quality).center());
    EXPECT_EQ(grid.DescriptionArea()->Name(), "quality");
    EXPECT_EQ(grid.DescriptionArea()->Description(), "jpeg quality");
    EXPECT_TRUE(tree->isHeaderHidden());
    // Both groups open; a hidden property leaves its row.
    EXPECT_TRUE(grid.GetProperty(0)->GetItem()->isExpanded());
    EXPECT_TRUE(grid.GetProperty(1)->GetItem()->isExpanded());
    color->Show(false);
    EXPECT_FALSE(ValueRect(grid, color).isValid());
    color->Show(true);
    EXPECT_TRUE(ValueRect(grid, color).isValid());
    // A property added to a group already in the grid gets its row and can be edited.
    auto* late = new CMyIntProperty("late", 5, "added later");
    grid.GetProperty(0)->AddSubItem(late);
    TypeValue(grid, late, "6");
    EXPECT_EQ(late->GetIntValue(), 6);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back(), late);
}

}  // namespace
