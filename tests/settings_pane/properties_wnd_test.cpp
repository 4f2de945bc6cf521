#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "facetta_doc.h"
#include "facetta_view.h"
#include "grid_driver.h"
#include "my_color_property.h"
#include "my_combo_property.h"
#include "my_int_property.h"
#include "properties_wnd.h"
#include "property_value_text.h"

namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        pane = new CPropertiesWnd(U("属性"), &frame);
        frame.setCentralWidget(new QWidget);
        frame.addDockWidget(Qt::RightDockWidgetArea, pane);
        pane->SetActiveViewProvider([this] { return active; });
        frame.resize(760, 560);  // inside the offscreen screen, so that popups open where clicked
        ShowActive(frame);
    }

    void Activate(CFacettaView* view) {
        active = view;
        if (view) pane->BindSettings(&view->m_settings);
    }

    CPropertyGrid& Grid() { return pane->PropList(); }

    QMainWindow frame;
    CPropertiesWnd* pane = nullptr;
    CFacettaDoc docA, docB;
    CFacettaView viewA{&docA};
    CFacettaView viewB{&docB};
    CFacettaView* active = nullptr;
};

TEST_F(PaneTest, UnboundListShowsInitialValues) {
    EXPECT_EQ(pane->windowTitle(), U("属性"));
    EXPECT_EQ(frame.dockWidgetArea(pane), Qt::RightDockWidgetArea);
    EXPECT_EQ(pane->allowedAreas(), Qt::AllDockWidgetAreas);
    EXPECT_EQ(pane->widget(), &Grid());
    EXPECT_EQ(Grid().GetDlgCtrlID(), 152);
    ASSERT_EQ(Grid().GetPropertyCount(), 3);
    EXPECT_EQ(Grid().GetProperty(0)->GetName(), U("图片大小"));
    EXPECT_EQ(Grid().GetProperty(1)->GetName(), U("图片设置"));
    EXPECT_EQ(Grid().GetProperty(2)->GetName(), U("变体"));

    const struct {
        CGridProperty* property;
        const char* name;
        const char* description;
        const char* text;
    } rows[] = {
        {pane->m_pPropWidth, "宽度", "指定图片的宽度(像素)", "1920"},
        {pane->m_pPropHeight, "高度", "指定图片的高度(像素)", "1080"},
        {pane->m_pPropResolution, "分辨率", "指定图片的分辨率(DPI)", "96"},
        {pane->m_pPropQuality, "质量", "JPG图片优化质量", "100"},
        {pane->m_pPropBackMode, "背景模式", "指定背景填充模式", "纯色"},
        {pane->m_pPropBackColor, "背景色", "指定图片的背景颜色", "46c8ff"},
        {pane->m_pPropGradColor1, "渐变色1", "指定渐变开始颜色", "46c8ff"},
        {pane->m_pPropGradColor2, "渐变色2", "指定渐变结束颜色", "46c8ff"},
        {pane->m_pPropBackImage, "背景图", "背景图文件路径", ""},
        {pane->m_pPropPolySize, "多边形大小", "指定多边形大小", "自动"},
        {pane->m_pPropPolyColor, "多边形颜色", "指定多边形颜色", "000000"},
        {pane->m_pPropStartOpacity, "透明度1", "多边形起始透明度", "100"},
        {pane->m_pPropEndOpacity, "透明度1", "多边形结束透明度", "100"},
        {pane->m_pPropLineColor, "线条颜色", "多边形边缘线条颜色", "ffffff"},
        {pane->m_pPropLineOpacity, "透明度", "多边形边缘线条透明度", "100"},
    };
    // Listed in this order, groups of 4 and 11, every row visible.
    int i = 0;
    for (const auto& row : rows) {
        CPropertyGroup* group = Grid().GetProperty(i < 4 ? 0 : 1);
        EXPECT_EQ(group->GetSubItem(i < 4 ? i : i - 4), row.property) << i;
        EXPECT_EQ(row.property->GetName(), U(row.name)) << i;
        EXPECT_EQ(row.property->GetDescription(), U(row.description)) << i;
        EXPECT_EQ(GetValueText(row.property), U(row.text)) << i;
        EXPECT_TRUE(ValueRect(Grid(), row.property).isValid()) << i;
        ++i;
    }
    EXPECT_EQ(Grid().GetProperty(2)->GetSubItem(0), pane->m_pPropSeed);
    EXPECT_EQ(pane->m_pPropSeed->GetName(), U("种子"));
    EXPECT_EQ(GetValueText(pane->m_pPropSeed), U(""));

    const QStringList modes = {U("纯色"),       U("左右渐变"),     U("左中右渐变"),   U("上下渐变"),
                               U("上中下渐变"), U("从左上到右下"), U("从左下到右上"), U("透明")};
    ASSERT_EQ(pane->m_pPropBackMode->GetOptionCount(), 8);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(pane->m_pPropBackMode->GetOption(k), modes[k]);
        EXPECT_EQ(pane->m_pPropBackMode->m_arrData[static_cast<size_t>(k)], k);
    }
    const std::vector<int32_t> sizes = {0, 50, 60, 80, 100, 120, 140, 160, 180, 200};
    EXPECT_EQ(pane->m_pPropPolySize->m_arrData, sizes);
    EXPECT_EQ(pane->m_pPropPolySize->GetOption(0), U("自动"));
    EXPECT_FALSE(pane->m_pPropBackMode->IsAllowEdit());
    EXPECT_FALSE(pane->m_pPropPolySize->IsAllowEdit());

    EXPECT_EQ(pane->m_pPropWidth->GetOptionCount(), 4);
    EXPECT_EQ(pane->m_pPropHeight->GetOption(4), "600");
    EXPECT_EQ(pane->m_pPropResolution->GetOption(0), "72");
    EXPECT_TRUE(pane->m_pPropResolution->IsAllowEdit());
    EXPECT_EQ(pane->m_pPropQuality->SpinMin(), 1);
    EXPECT_EQ(pane->m_pPropLineOpacity->SpinMax(), 100);

    EXPECT_TRUE(pane->m_pPropBackColor->HasOtherButton());
    EXPECT_EQ(pane->m_pPropGradColor2->GetOtherButtonText(), U("其他..."));
    EXPECT_FALSE(pane->m_pPropPolyColor->HasOtherButton());
    EXPECT_FALSE(pane->m_pPropLineColor->HasOtherButton());
    EXPECT_EQ(pane->m_pPropPolyColor->GetPaletteEntry(0), RGBColor(0, 0, 0));
    EXPECT_EQ(pane->m_pPropLineColor->GetPaletteEntry(0), RGBColor(255, 255, 255));
    EXPECT_EQ(pane->m_pPropBackColor->GetPaletteEntry(0), RGBColor(254, 218, 62));
    EXPECT_EQ(pane->m_pPropBackColor->GetPaletteEntry(10), RGBColor(0, 212, 254));
    EXPECT_EQ(pane->m_pPropBackColor->GetPaletteEntry(19), RGBColor(70, 200, 255));
    EXPECT_EQ(pane->m_pPropBackImage->GetDefaultExt(), "png");
    EXPECT_EQ(pane->m_pPropBackImage->GetNameFilters().size(), 5);
}

TEST_F(PaneTest, TypedValuesAreCorrectedShownAndStored) {
    Activate(&viewA);
    const struct {
        CMyIntProperty* ImageSettings_property;
        const char* typed;
        int32_t ImageSettings::*field;
        int32_t stored;
    } cases[] = {
        {pane->m_pPropWidth, "100", &ImageSettings::nWidth, 300},
        {pane->m_pPropWidth, "5000", &ImageSettings::nWidth, 5000},
        {pane->m_pPropWidth, "12abc", &ImageSettings::nWidth, 300},
        {pane->m_pPropHeight, "150", &ImageSettings::nHeight, 200},
        {pane->m_pPropHeight, " 700", &ImageSettings::nHeight, 700},
        {pane->m_pPropResolution, "1000", &ImageSettings::nResolution, 300},
        {pane->m_pPropResolution, "abc", &ImageSettings::nResolution, 72},
        {pane->m_pPropResolution, "150", &ImageSettings::nResolution, 150},
        {pane->m_pPropQuality, "0", &ImageSettings::nQuality, 1},
        {pane->m_pPropQuality, "250", &ImageSettings::nQuality, 100},
        {pane->m_pPropStartOpacity, "150", &ImageSettings::nStartOpacity, 150},
        {pane->m_pPropEndOpacity, "-10", &ImageSettings::nEndOpacity, -10},
        {pane->m_pPropLineOpacity, "40", &ImageSettings::nLineOpacity, 40},
    };
    for (const auto& c : cases) {
        TypeValue(Grid(), c.ImageSettings_property, U(c.typed));
        EXPECT_EQ(viewA.m_settings.*c.field, c.stored) << c.typed;
        EXPECT_EQ(GetValueText(c.ImageSettings_property), QString::number(c.stored)) << c.typed;
        EXPECT_EQ(Grid().CurrentEditor(), nullptr) << c.typed;
    }
    ASSERT_NE(viewA.m_pPicture, nullptr) << "an edit renders a picture";
    EXPECT_EQ(viewA.m_pPicture->Width(), 300);
    EXPECT_EQ(viewA.m_pPicture->Height(), 700);

    // Spin arrows reach the view one click at a time and stop at 100.
    auto* editor = qobject_cast<CSpinEditor*>(ClickValue(Grid(), pane->m_pPropQuality));
    ASSERT_NE(editor, nullptr);
    QTest::mouseClick(editor->SpinBox(), Qt::LeftButton, {},
                      editor->SpinBox()->ArrowRect(false).center());
    EXPECT_EQ(viewA.m_settings.nQuality, 99);
    QTest::mouseClick(editor->SpinBox(), Qt::LeftButton, {},
                      editor->SpinBox()->ArrowRect(true).center());
    QTest::mouseClick(editor->SpinBox(), Qt::LeftButton, {},
                      editor->SpinBox()->ArrowRect(true).center());
    EXPECT_EQ(viewA.m_settings.nQuality, 100);
    EXPECT_EQ(GetValueText(pane->m_pPropQuality), "100");
}

TEST_F(PaneTest, BackgroundModeShowsItsColours) {
    Activate(&viewA);
    auto visible = [&](CGridProperty* p) { return ValueRect(Grid(), p).isValid(); };
    EXPECT_TRUE(visible(pane->m_pPropBackColor));
    EXPECT_FALSE(visible(pane->m_pPropGradColor1));
    EXPECT_FALSE(visible(pane->m_pPropGradColor2));

    PickOption(Grid(), pane->m_pPropBackMode, 3);
    EXPECT_EQ(viewA.m_settings.nBackMode, 3);
    EXPECT_FALSE(visible(pane->m_pPropBackColor));
    EXPECT_TRUE(visible(pane->m_pPropGradColor1));
    EXPECT_TRUE(visible(pane->m_pPropGradColor2));
    EXPECT_TRUE(visible(pane->m_pPropBackImage));

    PickPaletteEntry(Grid(), pane->m_pPropGradColor2, 8);
    EXPECT_EQ(viewA.m_settings.crGradColor2, RGBColor(239, 14, 57));
    PickPaletteEntry(Grid(), pane->m_pPropLineColor, 0);
    EXPECT_EQ(viewA.m_settings.crLineColor, RGBColor(255, 255, 255));
    PickPaletteEntry(Grid(), pane->m_pPropPolyColor, 2);
    EXPECT_EQ(viewA.m_settings.crPolyColor, RGBColor(8, 105, 173));
    PickOption(Grid(), pane->m_pPropPolySize, 2);
    EXPECT_EQ(viewA.m_settings.nPolySize, 60);

    // Transparent: no colour applies; the background picture row stays.
    PickOption(Grid(), pane->m_pPropBackMode, 7);
    EXPECT_EQ(viewA.m_settings.nBackMode, kBackTransparent);
    EXPECT_FALSE(visible(pane->m_pPropBackColor));
    EXPECT_FALSE(visible(pane->m_pPropGradColor1));
    EXPECT_FALSE(visible(pane->m_pPropGradColor2));
    EXPECT_TRUE(visible(pane->m_pPropBackImage));

    PickOption(Grid(), pane->m_pPropBackMode, 0);
    EXPECT_EQ(viewA.m_settings.nBackMode, 0);
    EXPECT_TRUE(visible(pane->m_pPropBackColor));
    EXPECT_FALSE(visible(pane->m_pPropGradColor1));
    EXPECT_FALSE(visible(pane->m_pPropGradColor2));
}

TEST_F(PaneTest, EachWindowShowsItsOwnValuesAndEditsReachOnlyTheActiveOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString picture = dir.filePath("back.png");
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(picture));

    viewB.m_settings.nWidth = 800;
    viewB.m_settings.nBackMode = 5;
    viewB.m_settings.nPolySize = 120;
    viewB.m_settings.nStartOpacity = 7;
    viewB.m_settings.crGradColor1 = RGBColor(1, 2, 3);
    // B's picture arrives the way a user sets it.
    Activate(&viewB);
    TypeValue(Grid(), pane->m_pPropBackImage, picture);
    viewB.FinishBackgroundLoad();
    ASSERT_NE(viewB.m_pBackImage, nullptr);
    viewB.m_pPicture.reset();
    const ImageSettings settingsA = viewA.m_settings;
    const ImageSettings settingsB = viewB.m_settings;

    auto shows = [&](const ImageSettings& s) {
        EXPECT_EQ(pane->m_pPropWidth->GetIntValue(), s.nWidth);
        EXPECT_EQ(pane->m_pPropBackMode->GetSelectedData(), s.nBackMode);
        EXPECT_EQ(pane->m_pPropPolySize->GetSelectedData(), s.nPolySize);
        EXPECT_EQ(pane->m_pPropStartOpacity->GetIntValue(), s.nStartOpacity);
        EXPECT_EQ(pane->m_pPropBackColor->GetColor(), s.crBackColor);
        EXPECT_EQ(pane->m_pPropGradColor1->GetColor(), s.crGradColor1);
        EXPECT_EQ(GetValueText(pane->m_pPropBackImage),
                  QString::fromStdU16String(s.BackImagePath()));
        EXPECT_EQ(ValueRect(Grid(), pane->m_pPropBackColor).isValid(), s.nBackMode == 0);
    };
    Activate(&viewA);
    shows(settingsA);
    Activate(&viewB);
    shows(settingsB);
    // Binding applies nothing.
    EXPECT_EQ(viewA.m_pPicture, nullptr);
    EXPECT_EQ(viewB.m_pPicture, nullptr);
    EXPECT_TRUE(viewA.m_settings == settingsA);
    EXPECT_TRUE(viewB.m_settings == settingsB);

    TypeValue(Grid(), pane->m_pPropHeight, "600");
    EXPECT_EQ(viewB.m_settings.nHeight, 600);
    EXPECT_EQ(viewB.m_settings.nWidth, 800);
    EXPECT_EQ(viewB.m_settings.BackImagePath(), picture.toStdU16String());
    EXPECT_NE(viewB.m_pBackImage, nullptr);
    EXPECT_NE(viewB.m_pPicture, nullptr);
    EXPECT_TRUE(viewA.m_settings == settingsA);
    EXPECT_EQ(viewA.m_pPicture, nullptr);

    Activate(&viewA);
    shows(settingsA);
    EXPECT_EQ(pane->m_pPropHeight->GetIntValue(), settingsA.nHeight);
}

TEST_F(PaneTest, BackgroundPathLoadsAndClearingItDropsThePicture) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString picture = dir.filePath("back.png");
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(picture));
    viewA.m_settings.nWidth = 320;
    viewA.m_settings.nHeight = 240;
    Activate(&viewA);

    TypeValue(Grid(), pane->m_pPropBackImage, picture);
    EXPECT_EQ(viewA.m_settings.BackImagePath(), picture.toStdU16String());
    viewA.FinishBackgroundLoad();
    ASSERT_NE(viewA.m_pBackImage, nullptr);

    CPropertyEditor* editor = ClickValue(Grid(), pane->m_pPropBackImage);
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Delete);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
    EXPECT_EQ(GetValueText(pane->m_pPropBackImage), "");
    EXPECT_TRUE(viewA.m_settings.BackImagePath().empty());
    EXPECT_EQ(viewA.m_pBackImage, nullptr);

    // A path longer than a record holds reaches it cut, never overrunning.
    const QString longPath = QString(300, u'p');
    TypeValue(Grid(), pane->m_pPropBackImage, longPath);
    EXPECT_EQ(viewA.m_settings.BackImagePath().size(), 259u);
    EXPECT_EQ(viewA.m_pBackImage, nullptr);
}

TEST_F(PaneTest, WithoutWindowEditsChangeOnlyTheList) {
    const ImageSettings before = viewA.m_settings;
    Activate(&viewA);
    Activate(nullptr);
    TypeValue(Grid(), pane->m_pPropWidth, "100");
    EXPECT_EQ(GetValueText(pane->m_pPropWidth), "100") << "nothing corrects it";
    PickOption(Grid(), pane->m_pPropBackMode, 2);
    EXPECT_EQ(GetValueText(pane->m_pPropBackMode), U("左中右渐变"));
    EXPECT_TRUE(viewA.m_settings == before);
    EXPECT_EQ(viewA.m_pPicture, nullptr);
    // The next window binds its own values.
    Activate(&viewA);
    EXPECT_EQ(pane->m_pPropWidth->GetIntValue(), before.nWidth);
    EXPECT_EQ(pane->m_pPropBackMode->GetSelectedData(), before.nBackMode);
}

TEST_F(PaneTest, FollowsTheMenuFont) {
    const QFont saved = QApplication::font("QMenu");
    QFont menu = saved;
    menu.setPointSizeF(saved.pointSizeF() > 0 ? saved.pointSizeF() + 7 : 19);
    menu.setItalic(true);
    menu.setWeight(QFont::Bold);
    // A change of the system's fonts: a new menu font, and every widget hears of it.
    auto systemFontChange = [&](const QFont& font) {
        QApplication::setFont(font, "QMenu");
        QEvent change(QEvent::ApplicationFontChange);
        QApplication::sendEvent(pane, &change);
    };
    systemFontChange(menu);
    EXPECT_EQ(Grid().font().pointSizeF(), menu.pointSizeF());
    EXPECT_TRUE(Grid().font().italic());
    EXPECT_EQ(Grid().font().weight(), QFont::Bold);
    EXPECT_EQ(Grid().font().family(), QApplication::font().family());
    systemFontChange(saved);
    EXPECT_FALSE(Grid().font().italic());
}

TEST_F(PaneTest, GridFillsThePaneWhereverItIsDocked) {
    for (Qt::DockWidgetArea area :
         {Qt::LeftDockWidgetArea, Qt::BottomDockWidgetArea, Qt::RightDockWidgetArea}) {
        frame.addDockWidget(area, pane);
        QApplication::processEvents();
        EXPECT_EQ(frame.dockWidgetArea(pane), area);
        EXPECT_EQ(Grid().geometry(), pane->widget()->geometry());
        EXPECT_EQ(Grid().Tree()->DividerPos(), Grid().Tree()->viewport()->width() / 2);
    }
    // Focus given to the pane lands in the list.
    frame.centralWidget()->setFocusPolicy(Qt::StrongFocus);
    frame.centralWidget()->setFocus();
    pane->setFocus();
    EXPECT_EQ(QApplication::focusWidget(), Grid().Tree());
}

TEST_F(PaneTest, BackgroundRowShowsItsWholePathAndItsDialogTheLabelsAsWritten) {
    // A path far wider than its cell can still be read whole, by hovering.
    const QString path =
        QStringLiteral("/srv/pictures/") + QString(120, u'p') + QStringLiteral("/sky.png");
    ImageSettings s = viewA.m_settings;
    s.SetBackImagePath(path.toStdU16String());
    viewA.ApplySettings(&s);
    Activate(&viewA);
    QTreeWidgetItem* row = nullptr;
    for (QTreeWidgetItemIterator it(Grid().Tree()); *it; ++it)
        if ((*it)->text(0) == U("背景图")) row = *it;
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->toolTip(1), path);

    // The browse dialog's entries read exactly as the filter gives them.
    auto* editor = qobject_cast<CFileEditor*>(ClickValue(Grid(), pane->m_pPropBackImage));
    ASSERT_NE(editor, nullptr);
    QStringList shown;
    bool seen = false;
    OnModalDialog<QFileDialog>([&](QFileDialog* dialog) {
        seen = true;
        if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
        static_cast<QDialog*>(dialog)->reject();
    });
    QTest::mouseClick(editor->BrowseButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT_GTEST(seen);
    EXPECT_EQ(shown, QStringList({U("图片文件"), U("JPG图片(*.jpg)"), U("BMP图片(*.bmp)"),
                                  U("PNG图片(*.png)"), U("GIF图片(*.gif)")}));
}

}  // namespace

namespace {

// The seed row makes the typed seed's mesh with the settings as they are, as a new variant;
// anything but a seed changes nothing and says why.
TEST_F(PaneTest, TypedSeedMakesThatMeshAsANewVariant) {
    std::vector<QString> messages;
    CFacettaView::s_fnMessageBox = [&messages](QWidget*, QMessageBox::Icon, const QString&,
                                               const QString& text) { messages.push_back(text); };
    ImageSettings small = viewA.m_settings;
    small.nWidth = 400;
    small.nHeight = 300;
    viewA.ApplySettings(&small);
    Activate(&viewA);
    pane->BindSeed(viewA.GetSeed());
    const ImageSettings settings = viewA.m_settings;

    for (const char* typed : {"12345", " 4294967295", "0"}) {
        const size_t before = viewA.GetVariants().size();
        TypeValue(Grid(), pane->m_pPropSeed, U(typed));
        const uint32_t seed = QString::fromUtf8(typed).trimmed().toUInt();
        EXPECT_EQ(viewA.GetSeed(), std::optional<uint32_t>(seed)) << typed;
        EXPECT_TRUE(viewA.m_settings == settings) << typed;
        EXPECT_EQ(viewA.GetVariants().size(), before + 1) << typed;
        EXPECT_EQ(GetValueText(pane->m_pPropSeed), QString::number(seed)) << typed;
        PolygonMesh expected;
        ASSERT_EQ(GenerateMesh(settings, expected, seed), MeshResult::Ok);
        ASSERT_EQ(viewA.m_mesh.pVertices.size(), expected.pVertices.size());
        EXPECT_TRUE(std::equal(
            expected.pVertices.begin(), expected.pVertices.end(), viewA.m_mesh.pVertices.begin(),
            [](const MeshVertex& a, const MeshVertex& b) { return a.x == b.x && a.y == b.y; }));
    }
    EXPECT_TRUE(messages.empty());

    const size_t variants = viewA.GetVariants().size();
    for (const char* typed : {"abc", "-1", "4294967296", "12x", " "}) {
        messages.clear();
        TypeValue(Grid(), pane->m_pPropSeed, U(typed));
        EXPECT_EQ(viewA.GetSeed(), std::optional<uint32_t>(0)) << typed;
        EXPECT_EQ(viewA.GetVariants().size(), variants) << typed;
        EXPECT_EQ(GetValueText(pane->m_pPropSeed), U("0")) << typed;
        EXPECT_EQ(messages.size(), 1u) << typed;
    }
    CFacettaView::s_fnMessageBox = nullptr;
}

}  // namespace
