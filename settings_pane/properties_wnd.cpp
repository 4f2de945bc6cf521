#include "properties_wnd.h"

#include <QApplication>
#include <QEvent>

#include "facetta_view.h"
#include "my_color_property.h"
#include "my_combo_property.h"
#include "my_int_property.h"
#include "property_value_text.h"

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// List texts are translated where they are added; the data values stay the same.
const char* const kBackModes[] = {QT_TRANSLATE_NOOP("CPropertiesWnd", "纯色"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "左右渐变"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "左中右渐变"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "上下渐变"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "上中下渐变"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "从左上到右下"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "从左下到右上"),
                                  QT_TRANSLATE_NOOP("CPropertiesWnd", "透明")};
constexpr int32_t kPolySizes[] = {50, 60, 80, 100, 120, 140, 160, 180, 200};

constexpr const char* kImageFilter =
    QT_TRANSLATE_NOOP("CPropertiesWnd",
                      "图片文件|*.jpg;*.bmp;*.gif;*.png|JPG图片(*.jpg)|*.jpg|BMP图片(*.bmp)|*.bmp|"
                      "PNG图片(*.png)|*.png|GIF图片(*.gif)|*.gif|");

}  // namespace

CPropertiesWnd::CPropertiesWnd(const QString& title, QWidget* parent)
    : QDockWidget(title, parent), m_wndPropList(this) {
    setObjectName(QStringLiteral("PropertiesWnd"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable |
                QDockWidget::DockWidgetClosable);
    m_wndPropList.SetDlgCtrlID(kPropListId);
    setWidget(&m_wndPropList);
    // Focus given to the pane goes to its list.
    setFocusProxy(&m_wndPropList);
    InitPropList();
    AdjustLayout();
    connect(&m_wndPropList, &CPropertyGrid::propertyChanged, this,
            &CPropertiesWnd::OnPropertyChanged, Qt::DirectConnection);
}

CPropertiesWnd::~CPropertiesWnd() {
    // The grid is a member; take it out of the dock before the dock deletes its children.
    setWidget(nullptr);
    m_wndPropList.setParent(nullptr);
}

void CPropertiesWnd::SetActiveViewProvider(std::function<CFacettaView*()> provider) {
    m_activeViewProvider = std::move(provider);
}

void CPropertiesWnd::AdjustLayout() {
    // The dock lays its widget over the whole area; the grid only re-divides its columns.
    m_wndPropList.AdjustLayout();
}

void CPropertiesWnd::SetPropListFont() {
    // The regular interface font with the menu font's size, weight and slant.
    QFont font = QApplication::font();
    const QFont menu = QApplication::font("QMenu");
    if (menu.pixelSize() > 0)
        font.setPixelSize(menu.pixelSize());
    else
        font.setPointSizeF(menu.pointSizeF());
    font.setWeight(menu.weight());
    font.setItalic(menu.italic());
    m_fntPropList = font;
    m_wndPropList.setFont(m_fntPropList);
}

bool CPropertiesWnd::event(QEvent* event) {
    const bool result = QDockWidget::event(event);
    if (event->type() == QEvent::ApplicationFontChange || event->type() == QEvent::FontChange)
        SetPropListFont();
    return result;
}

void CPropertiesWnd::InitPropList() {
    SetPropListFont();

    m_wndPropList.EnableHeaderCtrl(false);
    m_wndPropList.EnableDescriptionArea(true);
    m_wndPropList.SetDescriptionRows(2);
    m_wndPropList.SetVSDotNetLook(true);
    m_wndPropList.MarkModifiedProperties(true);
    m_wndPropList.SetGroupNameFullWidth(true);
    m_wndPropList.AdjustLayout();

    auto* size = new CPropertyGroup(tr("图片大小"));
    m_pPropWidth = new CMyIntProperty(tr("宽度"), 1920, tr("指定图片的宽度(像素)"));
    for (const char* s : {"1920", "1280", "1024", "800"}) m_pPropWidth->AddOption(Utf8(s));
    size->AddSubItem(m_pPropWidth);
    m_pPropHeight = new CMyIntProperty(tr("高度"), 1080, tr("指定图片的高度(像素)"));
    for (const char* s : {"1080", "960", "800", "768", "600"}) m_pPropHeight->AddOption(Utf8(s));
    size->AddSubItem(m_pPropHeight);
    m_pPropResolution = new CMyIntProperty(tr("分辨率"), 96, tr("指定图片的分辨率(DPI)"));
    for (const char* s : {"72", "96", "120", "150", "300"}) m_pPropResolution->AddOption(Utf8(s));
    m_pPropResolution->AllowEdit(true);
    size->AddSubItem(m_pPropResolution);
    m_pPropQuality = new CMyIntProperty(tr("质量"), 100, tr("JPG图片优化质量"));
    m_pPropQuality->EnableSpinControl(true, 1, 100);
    size->AddSubItem(m_pPropQuality);
    m_wndPropList.AddProperty(size);

    auto* look = new CPropertyGroup(tr("图片设置"));
    m_pPropBackMode = new CMyComboProperty(tr("背景模式"), tr("纯色"), tr("指定背景填充模式"));
    m_pPropBackMode->AllowEdit(false);
    for (int i = 0; i < static_cast<int>(std::size(kBackModes)); ++i)
        m_pPropBackMode->AddDataOption(tr(kBackModes[i]), i);
    look->AddSubItem(m_pPropBackMode);

    const COLORREF sky = RGBColor(70, 200, 255);
    m_pPropBackColor = new CMyColorProperty(tr("背景色"), sky, tr("指定图片的背景颜色"));
    m_pPropBackColor->EnableOtherButton(tr("其他..."));
    look->AddSubItem(m_pPropBackColor);
    m_pPropGradColor1 = new CMyColorProperty(tr("渐变色1"), sky, tr("指定渐变开始颜色"));
    m_pPropGradColor1->EnableOtherButton(tr("其他..."));
    look->AddSubItem(m_pPropGradColor1);
    m_pPropGradColor2 = new CMyColorProperty(tr("渐变色2"), sky, tr("指定渐变结束颜色"));
    m_pPropGradColor2->EnableOtherButton(tr("其他..."));
    look->AddSubItem(m_pPropGradColor2);

    m_pPropBackImage = new CGridFileProperty(tr("背景图"), QString(), QStringLiteral("png"),
                                             tr(kImageFilter), tr("背景图文件路径"));
    look->AddSubItem(m_pPropBackImage);

    m_pPropPolySize = new CMyComboProperty(tr("多边形大小"), tr("自动"), tr("指定多边形大小"));
    m_pPropPolySize->AllowEdit(false);
    m_pPropPolySize->AddDataOption(tr("自动"), 0);
    for (int32_t n : kPolySizes) m_pPropPolySize->AddDataOption(QString::number(n), n);
    look->AddSubItem(m_pPropPolySize);

    m_pPropPolyColor =
        new CMyColorProperty(tr("多边形颜色"), RGBColor(0, 0, 0), tr("指定多边形颜色"));
    m_pPropPolyColor->SetPaletteEntry(0, RGBColor(0, 0, 0));
    look->AddSubItem(m_pPropPolyColor);

    m_pPropStartOpacity = new CMyIntProperty(tr("透明度1", "start"), 100, tr("多边形起始透明度"));
    m_pPropStartOpacity->EnableSpinControl(true, 0, 100);
    look->AddSubItem(m_pPropStartOpacity);
    m_pPropEndOpacity = new CMyIntProperty(tr("透明度1", "end"), 100, tr("多边形结束透明度"));
    m_pPropEndOpacity->EnableSpinControl(true, 0, 100);
    look->AddSubItem(m_pPropEndOpacity);

    m_pPropLineColor =
        new CMyColorProperty(tr("线条颜色"), RGBColor(255, 255, 255), tr("多边形边缘线条颜色"));
    m_pPropLineColor->SetPaletteEntry(0, RGBColor(255, 255, 255));
    look->AddSubItem(m_pPropLineColor);
    m_pPropLineOpacity = new CMyIntProperty(tr("透明度"), 100, tr("多边形边缘线条透明度"));
    m_pPropLineOpacity->EnableSpinControl(true, 0, 100);
    look->AddSubItem(m_pPropLineOpacity);
    m_wndPropList.AddProperty(look);

    // The seed is text: it spans the whole unsigned 32-bit range.
    auto* variant = new CPropertyGroup(tr("变体"));
    m_pPropSeed = new CGridProperty(tr("种子"), QVariant(QString()),
                                    tr("网格的种子(0-4294967295)，输入种子用当前设置生成它的网格"));
    variant->AddSubItem(m_pPropSeed);
    m_wndPropList.AddProperty(variant);
}

void CPropertiesWnd::BindSeed(std::optional<uint32_t> seed) {
    m_pPropSeed->SetValue(QVariant(seed ? QString::number(*seed) : QString()));
}

void CPropertiesWnd::OnSeedChanged(CFacettaView* pView) {
    const QString strText = GetValueText(m_pPropSeed).trimmed();
    bool bOk = false;
    const uint nSeed = strText.toUInt(&bOk, 10);
    if (!bOk || !strText.front().isDigit()) {
        BindSeed(pView->GetSeed());
        pView->ReportMessage(
            QMessageBox::Warning,
            tr("种子必须是 0 到 4294967295 之间的整数：“%1”").arg(strText.left(40)));
        return;
    }
    pView->ApplySeed(static_cast<uint32_t>(nSeed));
    BindSeed(pView->GetSeed());
}

void CPropertiesWnd::BindSettings(const ImageSettings* pSettings) {
    if (!pSettings) return;
    const ImageSettings& s = *pSettings;
    m_pPropWidth->SetIntValue(s.nWidth);
    m_pPropHeight->SetIntValue(s.nHeight);
    m_pPropResolution->SetIntValue(s.nResolution);
    m_pPropQuality->SetIntValue(s.nQuality);
    m_pPropBackMode->SelectByData(s.nBackMode);
    m_pPropBackColor->SetColor(s.crBackColor);
    m_pPropGradColor1->SetColor(s.crGradColor1);
    m_pPropGradColor2->SetColor(s.crGradColor2);
    m_pPropPolySize->SelectByData(s.nPolySize);
    m_pPropPolyColor->SetColor(s.crPolyColor);
    m_pPropStartOpacity->SetIntValue(s.nStartOpacity);
    m_pPropEndOpacity->SetIntValue(s.nEndOpacity);
    m_pPropLineColor->SetColor(s.crLineColor);
    m_pPropLineOpacity->SetIntValue(s.nLineOpacity);
    m_pPropBackImage->SetValue(QVariant(QString::fromStdU16String(s.BackImagePath())));
    UpdateColorVisibility(s.nBackMode);
}

int CPropertiesWnd::OnPropertyChanged(int, CGridProperty* pProperty) {
    CFacettaView* pView = m_activeViewProvider ? m_activeViewProvider() : nullptr;
    if (!pView || !pProperty) return 0;
    if (pProperty == m_pPropSeed) {
        // A new mesh for the current settings; the fifteen rows are not read.
        OnSeedChanged(pView);
        return 0;
    }

    ImageSettings s;
    s.nWidth = m_pPropWidth->GetIntValue();
    s.nHeight = m_pPropHeight->GetIntValue();
    s.nResolution = m_pPropResolution->GetIntValue();
    s.nQuality = m_pPropQuality->GetIntValue();
    s.nBackMode = m_pPropBackMode->GetSelectedData();
    s.crBackColor = m_pPropBackColor->GetColor();
    s.crGradColor1 = m_pPropGradColor1->GetColor();
    s.crGradColor2 = m_pPropGradColor2->GetColor();
    s.nPolySize = m_pPropPolySize->GetSelectedData();
    s.crPolyColor = m_pPropPolyColor->GetColor();
    s.nStartOpacity = m_pPropStartOpacity->GetIntValue();
    s.nEndOpacity = m_pPropEndOpacity->GetIntValue();
    s.crLineColor = m_pPropLineColor->GetColor();
    s.nLineOpacity = m_pPropLineOpacity->GetIntValue();
    s.SetBackImagePath(GetValueText(m_pPropBackImage).toStdU16String());

    // Corrected values are written back so that the list shows what is stored.
    auto hold = [](int32_t& value, int32_t limit, bool bBelow, CMyIntProperty* property) {
        if (bBelow ? value < limit : value > limit) {
            value = limit;
            property->SetIntValue(value);
        }
    };
    hold(s.nWidth, 300, true, m_pPropWidth);
    hold(s.nHeight, 200, true, m_pPropHeight);
    hold(s.nResolution, 72, true, m_pPropResolution);
    hold(s.nResolution, 300, false, m_pPropResolution);
    hold(s.nQuality, 1, true, m_pPropQuality);
    hold(s.nQuality, 100, false, m_pPropQuality);

    pView->ApplySettings(&s);
    UpdateColorVisibility(s.nBackMode);
    return 0;
}

void CPropertiesWnd::UpdateColorVisibility(int32_t nBackMode) {
    // A transparent background has no colours at all.
    const bool bSolid = nBackMode == 0, bGradient = !bSolid && nBackMode != kBackTransparent;
    m_pPropBackColor->Show(bSolid);
    m_pPropGradColor1->Show(bGradient);
    m_pPropGradColor2->Show(bGradient);
}

void CPropertiesWnd::ApplyPictureSize(int32_t nWidth, int32_t nHeight) {
    m_pPropWidth->SetIntValue(nWidth);
    m_pPropHeight->SetIntValue(nHeight);
    OnPropertyChanged(kPropListId, m_pPropWidth);
}
