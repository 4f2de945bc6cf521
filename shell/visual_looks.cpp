#include "visual_looks.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include <array>

#include "commands.h"

namespace {

struct Look {
    const char* pszStyle;
    // palette
    const char* window;
    const char* base;
    const char* alternateBase;
    const char* text;
    const char* button;
    const char* highlight;
    const char* highlightedText;
    const char* disabledText;
    const char* link;
    // bars and tabs
    const char* barTop;
    const char* barBottom;
    const char* menuBar;
    const char* menu;
    const char* menuBorder;
    const char* barText;
    const char* hoverTop;
    const char* hoverBottom;
    const char* hoverBorder;
    const char* hoverText;
    const char* pressed;
    const char* separator;
    const char* tab;
    const char* tabText;
    const char* tabSelected;
    const char* tabSelectedText;
    const char* accent;
    const char* radius;
    const char* workspace;
};

// Index 0-8 for ids 210-218.
const std::array<Look, 9> kLooks{{
    // 210: grey and navy, square edges, the plain widget style
    {"Windows", "#d4d0c8", "#ffffff", "#f1efe9", "#000000", "#d4d0c8", "#0a246a", "#ffffff",
     "#808080", "#0000ee", "#d4d0c8", "#d4d0c8", "#d4d0c8", "#ffffff", "#808080", "#000000",
     "#0a246a", "#0a246a", "#0a246a", "#ffffff", "#b0aca4", "#808080", "#d4d0c8", "#000000",
     "#ffffff", "#000000", "#0a246a", "0px",     "#808080"},
    // 211: flat and light, pale blue hover with a dark blue frame
    {"Fusion",  "#f0efeb", "#ffffff", "#f6f5f2", "#000000", "#f4f3ef", "#b6bdd2", "#000000",
     "#a3a09a", "#0a246a", "#faf9f6", "#ebe9e2", "#f0efeb", "#fcfcfb", "#8a8780", "#000000",
     "#c1d2ee", "#c1d2ee", "#316ac5", "#000000", "#98b5e2", "#c5c2b8", "#e4e2da", "#2b2b2b",
     "#ffffff", "#000000", "#316ac5", "0px",     "#9d9b95"},
    // 212: beige with bright blue selection and an orange tab edge
    {"Fusion",  "#ece9d8", "#ffffff", "#f5f3e9", "#000000", "#ece9d8", "#316ac5", "#ffffff",
     "#aca899", "#0033cc", "#fbfaf5", "#dcd8c2", "#ece9d8", "#ffffff", "#8d8a7a", "#000000",
     "#fdf4d6", "#fbd982", "#e0a800", "#000000", "#f5c24a", "#c4c0a8", "#e3dfca", "#333333",
     "#fcfcfe", "#000000", "#ff9d1e", "3px",     "#a9a68f"},
    // 213: blue gradients, warm orange hover
    {"Fusion",  "#c3daf9", "#ffffff", "#eaf2fe", "#000000", "#dbe8fc", "#3169c6", "#ffffff",
     "#8da3c4", "#0b3a9c", "#dde9fd", "#84a9e6", "#a9c7f5", "#fcfcff", "#3f6bb8", "#0a1f4f",
     "#fff5cc", "#ffd18a", "#000080", "#000000", "#fe9a4f", "#5f88cf", "#b6cff5", "#0a1f4f",
     "#ffffff", "#000000", "#f79a2a", "2px",     "#5479ba"},
    // 214: warm grey bars, blue hover, dark workspace
    {"Fusion",  "#eeede5", "#ffffff", "#f5f4ee", "#000000", "#f3f2ec", "#316ac5", "#ffffff",
     "#a7a6a0", "#1c4fb0", "#f7f7f5", "#dcdad3", "#f5f4ef", "#fcfcfa", "#868580", "#000000",
     "#dce6f6", "#c1d2ee", "#316ac5", "#000000", "#98b5e2", "#b4b2a9", "#c9c7bd", "#3a3a3a",
     "#ffffff", "#000000", "#316ac5", "0px",     "#808080"},
    // 215: sky blue with gold hover
    {"Fusion",  "#cfe1f7", "#ffffff", "#eef5fd", "#15428b", "#dde9f8", "#3d7ac8", "#ffffff",
     "#8ea7c7", "#0e57b8", "#eef5fd", "#c8dcf5", "#dbe8f8", "#fafcff", "#7d9dca", "#15428b",
     "#fff3c6", "#ffd56b", "#c2a24e", "#15428b", "#f8b74d", "#93b4e0", "#c4d9f4", "#15428b",
     "#ffffff", "#15428b", "#f5a623", "3px",     "#a9c4e8"},
    // 216: dark, amber hover and selection
    {"Fusion",  "#353535", "#2a2a2a", "#313131", "#e8e8e8", "#414141", "#e3a03a", "#1c1c1c",
     "#7b7b7b", "#f2b35c", "#4d4d4d", "#343434", "#2b2b2b", "#2f2f2f", "#5a5a5a", "#ececec",
     "#f7d38a", "#e3a03a", "#b77d24", "#1c1c1c", "#c98a2c", "#5a5a5a", "#3c3c3c", "#c9c9c9",
     "#545454", "#ffffff", "#e3a03a", "3px",     "#202020"},
    // 217: cool silver, gold hover
    {"Fusion",  "#e4e8ee", "#ffffff", "#f2f4f7", "#1f2a38", "#edf0f4", "#5f7fa8", "#ffffff",
     "#9aa3ae", "#28579e", "#f8f9fb", "#d0d6df", "#dfe3ea", "#fbfbfc", "#9aa2ae", "#1f2a38",
     "#fff3c6", "#ffd56b", "#c2a24e", "#1f2a38", "#f8b74d", "#b3bac5", "#d8dde5", "#2c3644",
     "#ffffff", "#1f2a38", "#8a99ad", "3px",     "#bcc3cd"},
    // 218: sea green, gold hover
    {"Fusion",  "#d3e7ea", "#ffffff", "#eef6f7", "#1e4850", "#def0f2", "#2f8a99", "#ffffff",
     "#8fb0b5", "#146b7a", "#ebf5f6", "#b3d6dc", "#c7e1e5", "#fbfefe", "#7fb1b9", "#1e4850",
     "#fff3c6", "#ffd56b", "#c2a24e", "#1e4850", "#f8b74d", "#96c3ca", "#c2dfe3", "#1e4850",
     "#ffffff", "#1e4850", "#2f8a99", "3px",     "#8fbfc7"},
}};

// Each look's pane caption (top and bottom of its gradient, text), the strongest mark of a
// look after its bars: navy, flat grey, Luna blue, deep blue, charcoal, pale blue, dark,
// silver and sea green keep the looks apart at a glance. Index 0-8 for ids 210-218.
struct Caption {
    const char* top;
    const char* bottom;
    const char* text;
};
const std::array<Caption, 9> kCaptions{{
    {"#0a246a", "#a6caf0", "#ffffff"},
    {"#dedbd2", "#dedbd2", "#000000"},
    {"#0058e6", "#3a93ff", "#ffffff"},
    {"#5b87d6", "#2f5aa8", "#ffffff"},
    {"#6e6e6e", "#4f4f4f", "#ffffff"},
    {"#e4effc", "#c4d9f4", "#15428b"},
    {"#4d4d4d", "#343434", "#ececec"},
    {"#f1f3f6", "#d5dbe3", "#1f2a38"},
    {"#dcefef", "#b3d6dc", "#1e4850"},
}};

// The 2007 scheme an unknown look keeps; blue until another 2007 look is chosen.
int s_n2007Index = ID_LOOK_OFFICE_2007_BLUE - ID_LOOK_WIN2000;

QPalette MakePalette(const Look& l) {
    QPalette p;
    const QColor window(l.window), text(l.text), button(l.button), base(l.base);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(l.alternateBase));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(l.highlight));
    p.setColor(QPalette::HighlightedText, QColor(l.highlightedText));
    p.setColor(QPalette::ToolTipBase, QColor(l.menu));
    p.setColor(QPalette::ToolTipText, QColor(l.barText));
    p.setColor(QPalette::PlaceholderText, QColor(l.disabledText));
    p.setColor(QPalette::Link, QColor(l.link));
    p.setColor(QPalette::Light, button.lighter(150));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, button.darker(300));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(l.disabledText));
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    return p;
}

QString MakeStyleSheet(const Look& l, const Caption& c) {
    QString s = QStringLiteral(R"(
QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 @barTop, stop:1 @barBottom);
  border: 0; padding: 2px; spacing: 2px; }
QToolBar::separator { background: @separator; width: 1px; margin: 4px 4px; }
QToolButton { border: 1px solid transparent; border-radius: @radius; padding: 2px; color: @barText; }
QToolButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 @hoverTop, stop:1 @hoverBottom);
  border-color: @hoverBorder; color: @hoverText; }
QToolButton:pressed, QToolButton:checked { background: @pressed; border-color: @hoverBorder; }
QMenuBar { background: @menuBar; color: @barText; }
QMenuBar::item { background: transparent; padding: 3px 8px; border: 1px solid transparent;
  border-radius: @radius; }
QMenuBar::item:selected { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 @hoverTop, stop:1 @hoverBottom);
  border-color: @hoverBorder; color: @hoverText; }
QMenu { background: @menu; color: @barText; border: 1px solid @menuBorder; padding: 2px; }
QMenu::item { padding: 4px 28px 4px 26px; border: 1px solid transparent; border-radius: @radius; }
QMenu::item:selected { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 @hoverTop, stop:1 @hoverBottom);
  border-color: @hoverBorder; color: @hoverText; }
QMenu::item:disabled { color: @disabledText; background: transparent; border-color: transparent; }
QMenu::separator { height: 1px; background: @separator; margin: 3px 6px 3px 26px; }
QMenu::indicator { width: 16px; height: 16px; }
QMenu::indicator:exclusive:checked { image: url(@radio); }
QStatusBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 @barTop, stop:1 @barBottom);
  color: @barText; }
QStatusBar::item { border: 0; }
QStatusBar QLabel { color: @barText; padding: 0 6px; }
QStatusBar QLabel:disabled { color: @disabledText; }
QMdiArea QTabBar::tab { background: @tab; color: @tabText; padding: 4px 14px; margin-right: 1px;
  border: 1px solid @separator; border-bottom: 0; border-top-left-radius: @radius;
  border-top-right-radius: @radius; }
QMdiArea QTabBar::tab:selected { background: @tabSelected; color: @tabSelectedText;
  border-top: 2px solid @accent; }
QMdiArea QTabBar::tab:hover:!selected { background: @tabHover; color: @tabText; }
QMdiArea > QToolButton { background: @tab; border: 1px solid @separator; border-radius: 0; }
QDockWidget { color: @captionText; titlebar-close-icon: url(@dockClose);
  titlebar-normal-icon: url(@dockFloat); }
QDockWidget::title { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 @captionTop, stop:1 @captionBottom);
  padding: 4px; }
QDockWidget::close-button, QDockWidget::float-button { border: 1px solid transparent;
  border-radius: @radius; padding: 1px; }
QDockWidget::close-button:hover, QDockWidget::float-button:hover { background: @hoverTop;
  border-color: @hoverBorder; }
)");
    const std::pair<const char*, const char*> fields[] = {
        {"@barTop", l.barTop},
        {"@barBottom", l.barBottom},
        {"@separator", l.separator},
        {"@radius", l.radius},
        {"@barText", l.barText},
        {"@hoverTop", l.hoverTop},
        {"@hoverBottom", l.hoverBottom},
        {"@hoverBorder", l.hoverBorder},
        {"@hoverText", l.hoverText},
        {"@pressed", l.pressed},
        {"@menuBar", l.menuBar},
        {"@menuBorder", l.menuBorder},
        {"@menu", l.menu},
        {"@disabledText", l.disabledText},
        {"@tabSelectedText", l.tabSelectedText},
        {"@tabSelected", l.tabSelected},
        {"@tabText", l.tabText},
        {"@tab", l.tab},
        {"@accent", l.accent},
    };
    // A hovered tab moves only part of the way towards the selected one: it never outshines it.
    const QColor tab(l.tab), selected(l.tabSelected);
    const QColor hover = QColor::fromRgbF(tab.redF() + (selected.redF() - tab.redF()) * 0.45f,
                                          tab.greenF() + (selected.greenF() - tab.greenF()) * 0.45f,
                                          tab.blueF() + (selected.blueF() - tab.blueF()) * 0.45f);
    s.replace(QLatin1String("@tabHover"), hover.name());
    const bool bDarkCaption = QColor(c.text).lightness() >= 128;
    s.replace(QLatin1String("@dockClose"), bDarkCaption
                                               ? QLatin1String(":/icons/dock_close_light.svg")
                                               : QLatin1String(":/icons/dock_close_dark.svg"));
    s.replace(QLatin1String("@dockFloat"), bDarkCaption
                                               ? QLatin1String(":/icons/dock_float_light.svg")
                                               : QLatin1String(":/icons/dock_float_dark.svg"));
    s.replace(QLatin1String("@captionTop"), QLatin1String(c.top));
    s.replace(QLatin1String("@captionBottom"), QLatin1String(c.bottom));
    s.replace(QLatin1String("@captionText"), QLatin1String(c.text));
    // The radio dot in the text colour of the menus: dark on light menus, light on dark ones.
    const bool bDarkMenu = QColor(l.menu).lightness() < 128;
    s.replace(QLatin1String("@radio"), bDarkMenu ? QLatin1String(":/icons/radio_light.svg")
                                                 : QLatin1String(":/icons/radio_dark.svg"));
    // Longer names first where one is a prefix of another (@tabSelected before @tab).
    for (const auto& [key, value] : fields) s.replace(QLatin1String(key), QLatin1String(value));
    return s;
}

}  // namespace

bool IsKnownLook(uint32_t nId) {
    return nId >= ID_LOOK_WIN2000 && nId <= ID_LOOK_OFFICE_2007_AQUA;
}

QColor ApplyVisualLook(uint32_t nId) {
    int nIndex = s_n2007Index;
    if (IsKnownLook(nId)) {
        nIndex = static_cast<int>(nId) - ID_LOOK_WIN2000;
        if (nId >= ID_LOOK_OFFICE_2007_BLUE) s_n2007Index = nIndex;
    }
    const Look& look = kLooks[static_cast<size_t>(nIndex)];
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return QColor(look.workspace);

    if (QStyle* pStyle = QStyleFactory::create(QLatin1String(look.pszStyle)))
        QApplication::setStyle(pStyle);
    QApplication::setPalette(MakePalette(look));
    app->setStyleSheet(MakeStyleSheet(look, kCaptions[static_cast<size_t>(nIndex)]));
    return QColor(look.workspace);
}
