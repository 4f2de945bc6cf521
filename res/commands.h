#pragma once
// Every command of the program in one table: the id shared by menus, toolbar, keys and the
// status-bar prompt, with its texts, key and icon. Menus and the toolbar are built from it.
// The texts are the Chinese originals, marked for lupdate in the context "Commands" and
// translated where they are shown (CommandText), so a new row needs only its English line.
#include <QCoreApplication>

#include <array>

enum CommandId : int {
    ID_LOOK_WIN2000 = 210,
    ID_LOOK_OFFICE_XP = 211,
    ID_LOOK_WINXP = 212,
    ID_LOOK_OFFICE_2003 = 213,
    ID_LOOK_VS2005 = 214,
    ID_LOOK_OFFICE_2007_BLUE = 215,
    ID_LOOK_OFFICE_2007_BLACK = 216,
    ID_LOOK_OFFICE_2007_SILVER = 217,
    ID_LOOK_OFFICE_2007_AQUA = 218,
    ID_WINDOWS_DIALOG = 131,
    ID_COPY_PICTURE = 310,
    ID_ZOOM_BOX = 311,
    ID_VISIT_WEBSITE = 312,
    ID_GENERATE_PREVIEW = 32772,
    ID_WINDOW_CLOSE_ACTIVE = 32773,
    ID_WINDOW_CLOSE_ALL = 32775,
    ID_FILE_NEW = 57600,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_WINDOW_NEW = 57648,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_PREVIOUS_VARIANT = 340,
    ID_NEXT_VARIANT = 341,
    ID_COPY_RECIPE = 342,
    ID_PASTE_RECIPE = 343,
    ID_FIT_SCREEN = 330,
    ID_FIT_ALL_SCREENS = 331,
    ID_SET_WALLPAPER = 332,
};

struct CommandInfo {
    int nId;
    const char* pszMenuText;  // UTF-8; text after a tab is the key shown in the menu
    const char* pszKey;       // QKeySequence portable text, or ""
    const char* pszPrompt;    // status-bar prompt, or ""
    const char* pszTooltip;   // or ""
    const char* pszIcon;      // resource path, or ""
};

inline constexpr std::array<CommandInfo, 35> kCommands{{
    {ID_FILE_NEW, QT_TRANSLATE_NOOP("Commands", "新建(&N)\tCtrl+N"), "Ctrl+N",
     QT_TRANSLATE_NOOP("Commands", "创建新文档"), QT_TRANSLATE_NOOP("Commands", "新建"),
     ":/icons/file_new.svg"},
    {ID_FILE_CLOSE, QT_TRANSLATE_NOOP("Commands", "关闭(&C)"), "",
     QT_TRANSLATE_NOOP("Commands", "关闭活动文档"), QT_TRANSLATE_NOOP("Commands", "关闭"), ""},
    {ID_FILE_SAVE, QT_TRANSLATE_NOOP("Commands", "保存(&S)\tCtrl+S"), "Ctrl+S",
     QT_TRANSLATE_NOOP("Commands", "保存活动文档"), QT_TRANSLATE_NOOP("Commands", "保存"),
     ":/icons/file_save.svg"},
    {ID_FILE_SAVE_AS, QT_TRANSLATE_NOOP("Commands", "另存为(&A)..."), "",
     QT_TRANSLATE_NOOP("Commands", "用新名称保存活动文档"), QT_TRANSLATE_NOOP("Commands", "另存为"),
     ""},
    {ID_GENERATE_PREVIEW, QT_TRANSLATE_NOOP("Commands", "生成预览"), "F5",
     QT_TRANSLATE_NOOP("Commands", "生成预览"), QT_TRANSLATE_NOOP("Commands", "预览"),
     ":/icons/generate.svg"},
    {ID_COPY_PICTURE, QT_TRANSLATE_NOOP("Commands", "复制图片"), "Ctrl+C",
     QT_TRANSLATE_NOOP("Commands", "复制图片到剪贴板"), QT_TRANSLATE_NOOP("Commands", "复制图片"),
     ":/icons/copy.svg"},
    {ID_FILE_PRINT, QT_TRANSLATE_NOOP("Commands", "打印(&P)...\tCtrl+P"), "Ctrl+P",
     QT_TRANSLATE_NOOP("Commands", "打印活动文档"), QT_TRANSLATE_NOOP("Commands", "打印"),
     ":/icons/print.svg"},
    {ID_FILE_PRINT_PREVIEW, QT_TRANSLATE_NOOP("Commands", "打印预览(&V)"), "",
     QT_TRANSLATE_NOOP("Commands", "显示整页"), QT_TRANSLATE_NOOP("Commands", "打印预览"), ""},
    {ID_FILE_PRINT_SETUP, QT_TRANSLATE_NOOP("Commands", "打印设置(&R)..."), "",
     QT_TRANSLATE_NOOP("Commands", "更改打印机选项和打印选项"),
     QT_TRANSLATE_NOOP("Commands", "打印设置"), ""},
    {ID_APP_EXIT, QT_TRANSLATE_NOOP("Commands", "退出(&X)"), "",
     QT_TRANSLATE_NOOP("Commands", "退出应用程序；提示保存文档"),
     QT_TRANSLATE_NOOP("Commands", "退出"), ""},
    {ID_VIEW_TOOLBAR, QT_TRANSLATE_NOOP("Commands", "<占位符>"), "", "", "", ""},
    {ID_VIEW_STATUS_BAR, QT_TRANSLATE_NOOP("Commands", "状态栏(&S)"), "",
     QT_TRANSLATE_NOOP("Commands", "显示或隐藏状态栏"), QT_TRANSLATE_NOOP("Commands", "切换状态栏"),
     ""},
    {ID_LOOK_WIN2000, QT_TRANSLATE_NOOP("Commands", "Windows 2000(&2)"), "", "", "", ""},
    {ID_LOOK_OFFICE_XP, QT_TRANSLATE_NOOP("Commands", "Office XP(&X)"), "", "", "", ""},
    {ID_LOOK_WINXP, QT_TRANSLATE_NOOP("Commands", "Windows XP(&W)"), "", "", "", ""},
    {ID_LOOK_OFFICE_2003, QT_TRANSLATE_NOOP("Commands", "Office 2003(&3)"), "", "", "", ""},
    {ID_LOOK_VS2005, QT_TRANSLATE_NOOP("Commands", "Visual Studio.NET 2005(&5)"), "", "", "", ""},
    {ID_LOOK_OFFICE_2007_BLUE, QT_TRANSLATE_NOOP("Commands", "蓝色样式(&B)"), "", "", "", ""},
    {ID_LOOK_OFFICE_2007_BLACK, QT_TRANSLATE_NOOP("Commands", "黑色样式(&L)"), "", "", "", ""},
    {ID_LOOK_OFFICE_2007_SILVER, QT_TRANSLATE_NOOP("Commands", "银色样式(&S)"), "", "", "", ""},
    {ID_LOOK_OFFICE_2007_AQUA, QT_TRANSLATE_NOOP("Commands", "水绿色样式(&A)"), "", "", "", ""},
    {ID_WINDOW_NEW, QT_TRANSLATE_NOOP("Commands", "新建窗口(&N)"), "",
     QT_TRANSLATE_NOOP("Commands", "为活动文档打开另一个窗口"),
     QT_TRANSLATE_NOOP("Commands", "新建窗口"), ""},
    {ID_WINDOW_CLOSE_ACTIVE, QT_TRANSLATE_NOOP("Commands", "关闭窗口(&C)"), "", "", "", ""},
    {ID_WINDOW_CLOSE_ALL, QT_TRANSLATE_NOOP("Commands", "关闭全部"), "", "", "", ""},
    {ID_WINDOWS_DIALOG, QT_TRANSLATE_NOOP("Commands", "窗口(&W)..."), "", "", "", ""},
    {ID_ZOOM_BOX, "", "", QT_TRANSLATE_NOOP("Commands", "缩放比例"),
     QT_TRANSLATE_NOOP("Commands", "缩放"), ":/icons/zoom.svg"},
    {ID_VISIT_WEBSITE, QT_TRANSLATE_NOOP("Commands", "作者网站(&W)..."), "",
     QT_TRANSLATE_NOOP("Commands", "访问作者网站"), QT_TRANSLATE_NOOP("Commands", "网站"),
     ":/icons/website.svg"},
    {ID_APP_ABOUT, QT_TRANSLATE_NOOP("Commands", "关于(&A)..."), "",
     QT_TRANSLATE_NOOP("Commands", "显示程序信息、版本号和版权"),
     QT_TRANSLATE_NOOP("Commands", "关于"), ":/icons/about.svg"},
    {ID_PREVIOUS_VARIANT, QT_TRANSLATE_NOOP("Commands", "上一个变体"), "Alt+Left",
     QT_TRANSLATE_NOOP("Commands", "显示这个窗口的上一个变体"),
     QT_TRANSLATE_NOOP("Commands", "上一个变体"), ":/icons/variant_previous.svg"},
    {ID_NEXT_VARIANT, QT_TRANSLATE_NOOP("Commands", "下一个变体"), "Alt+Right",
     QT_TRANSLATE_NOOP("Commands", "显示这个窗口的下一个变体"),
     QT_TRANSLATE_NOOP("Commands", "下一个变体"), ":/icons/variant_next.svg"},
    {ID_COPY_RECIPE, QT_TRANSLATE_NOOP("Commands", "复制配方"), "Ctrl+Shift+C",
     QT_TRANSLATE_NOOP("Commands", "把生成这张图片的 facetta-cli 命令行复制到剪贴板"),
     QT_TRANSLATE_NOOP("Commands", "复制配方"), ""},
    {ID_PASTE_RECIPE, QT_TRANSLATE_NOOP("Commands", "粘贴配方"), "Ctrl+Shift+V",
     QT_TRANSLATE_NOOP("Commands", "按剪贴板里的配方生成图片，作为新的变体"),
     QT_TRANSLATE_NOOP("Commands", "粘贴配方"), ""},
    {ID_FIT_SCREEN, QT_TRANSLATE_NOOP("Commands", "适应屏幕"), "",
     QT_TRANSLATE_NOOP("Commands", "将图片大小设为窗口所在屏幕的实际像素大小"),
     QT_TRANSLATE_NOOP("Commands", "适应屏幕"), ":/icons/fit_screen.svg"},
    {ID_FIT_ALL_SCREENS, QT_TRANSLATE_NOOP("Commands", "适应所有屏幕"), "",
     QT_TRANSLATE_NOOP("Commands", "将图片大小设为所有屏幕合起来的实际像素大小"),
     QT_TRANSLATE_NOOP("Commands", "适应所有屏幕"), ":/icons/fit_all_screens.svg"},
    {ID_SET_WALLPAPER, QT_TRANSLATE_NOOP("Commands", "设为桌面背景"), "",
     QT_TRANSLATE_NOOP("Commands", "以原尺寸保存图片并设为桌面背景"),
     QT_TRANSLATE_NOOP("Commands", "设为桌面背景"), ":/icons/wallpaper.svg"},
}};

// The entry of a command id, or nullptr.
constexpr const CommandInfo* FindCommand(int nId) {
    for (const CommandInfo& c : kCommands)
        if (c.nId == nId) return &c;
    return nullptr;
}

// A text of this file in the interface's language.
inline QString CommandText(const char* pszSource) {
    return *pszSource ? QCoreApplication::translate("Commands", pszSource) : QString();
}

// Other texts of the shell.
inline constexpr const char kAppTitle[] = "Facetta";                                 // 57344, 128
inline constexpr const char kIdleMessage[] = QT_TRANSLATE_NOOP("Commands", "就绪");  // 57345
inline constexpr const char kToolbarName[] = QT_TRANSLATE_NOOP("Commands", "标准");  // 124
inline constexpr const char kDocumentName[] =
    QT_TRANSLATE_NOOP("Commands", "图片");                // new documents: 图片1, 图片2, ...
inline constexpr const char kIndicatorCaps[] = "CAP";     // 59137
inline constexpr const char kIndicatorNum[] = "NUM";      // 59138
inline constexpr const char kIndicatorScroll[] = "SCRL";  // 59139
