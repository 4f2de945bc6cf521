#pragma once
// Every command of the program in one table: the id shared by menus, toolbar, keys and the
// status-bar prompt, with its texts, key and icon. Menus and the toolbar are built from it.
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
    {ID_FILE_NEW, "新建(&N)\tCtrl+N", "Ctrl+N", "创建新文档", "新建", ":/icons/file_new.svg"},
    {ID_FILE_CLOSE, "关闭(&C)", "", "关闭活动文档", "关闭", ""},
    {ID_FILE_SAVE, "保存(&S)\tCtrl+S", "Ctrl+S", "保存活动文档", "保存", ":/icons/file_save.svg"},
    {ID_FILE_SAVE_AS, "另存为(&A)...", "", "用新名称保存活动文档", "另存为", ""},
    {ID_GENERATE_PREVIEW, "生成预览", "F5", "生成预览", "预览", ":/icons/generate.svg"},
    {ID_COPY_PICTURE, "复制图片", "Ctrl+C", "复制图片到剪贴板", "复制图片", ":/icons/copy.svg"},
    {ID_FILE_PRINT, "打印(&P)...\tCtrl+P", "Ctrl+P", "打印活动文档", "打印", ":/icons/print.svg"},
    {ID_FILE_PRINT_PREVIEW, "打印预览(&V)", "", "显示整页", "打印预览", ""},
    {ID_FILE_PRINT_SETUP, "打印设置(&R)...", "", "更改打印机选项和打印选项", "打印设置", ""},
    {ID_APP_EXIT, "退出(&X)", "", "退出应用程序；提示保存文档", "退出", ""},
    {ID_VIEW_TOOLBAR, "<占位符>", "", "", "", ""},
    {ID_VIEW_STATUS_BAR, "状态栏(&S)", "", "显示或隐藏状态栏", "切换状态栏", ""},
    {ID_LOOK_WIN2000, "Windows 2000(&2)", "", "", "", ""},
    {ID_LOOK_OFFICE_XP, "Office XP(&X)", "", "", "", ""},
    {ID_LOOK_WINXP, "Windows XP(&W)", "", "", "", ""},
    {ID_LOOK_OFFICE_2003, "Office 2003(&3)", "", "", "", ""},
    {ID_LOOK_VS2005, "Visual Studio.NET 2005(&5)", "", "", "", ""},
    {ID_LOOK_OFFICE_2007_BLUE, "蓝色样式(&B)", "", "", "", ""},
    {ID_LOOK_OFFICE_2007_BLACK, "黑色样式(&L)", "", "", "", ""},
    {ID_LOOK_OFFICE_2007_SILVER, "银色样式(&S)", "", "", "", ""},
    {ID_LOOK_OFFICE_2007_AQUA, "水绿色样式(&A)", "", "", "", ""},
    {ID_WINDOW_NEW, "新建窗口(&N)", "", "为活动文档打开另一个窗口", "新建窗口", ""},
    {ID_WINDOW_CLOSE_ACTIVE, "关闭窗口(&C)", "", "", "", ""},
    {ID_WINDOW_CLOSE_ALL, "关闭全部", "", "", "", ""},
    {ID_WINDOWS_DIALOG, "窗口(&W)...", "", "", "", ""},
    {ID_ZOOM_BOX, "", "", "缩放比例", "缩放", ":/icons/zoom.svg"},
    {ID_VISIT_WEBSITE, "作者网站(&W)...", "", "访问作者网站", "网站", ":/icons/website.svg"},
    {ID_APP_ABOUT, "关于(&A)...", "", "显示程序信息、版本号和版权", "关于", ":/icons/about.svg"},
    {ID_PREVIOUS_VARIANT, "上一个变体", "Alt+Left", "显示这个窗口的上一个变体", "上一个变体",
     ":/icons/variant_previous.svg"},
    {ID_NEXT_VARIANT, "下一个变体", "Alt+Right", "显示这个窗口的下一个变体", "下一个变体",
     ":/icons/variant_next.svg"},
    {ID_COPY_RECIPE, "复制配方", "Ctrl+Shift+C", "把生成这张图片的 facetta-cli 命令行复制到剪贴板", "复制配方", ""},
    {ID_PASTE_RECIPE, "粘贴配方", "Ctrl+Shift+V", "按剪贴板里的配方生成图片，作为新的变体", "粘贴配方", ""},
    {ID_FIT_SCREEN, "适应屏幕", "", "将图片大小设为窗口所在屏幕的实际像素大小", "适应屏幕", ":/icons/fit_screen.svg"},
    {ID_FIT_ALL_SCREENS, "适应所有屏幕", "", "将图片大小设为所有屏幕合起来的实际像素大小", "适应所有屏幕", ":/icons/fit_all_screens.svg"},
    {ID_SET_WALLPAPER, "设为桌面背景", "", "以原尺寸保存图片并设为桌面背景", "设为桌面背景", ":/icons/wallpaper.svg"},
}};

// The entry of a command id, or nullptr.
constexpr const CommandInfo* FindCommand(int nId) {
    for (const CommandInfo& c : kCommands)
        if (c.nId == nId) return &c;
    return nullptr;
}

// Other texts of the shell.
inline constexpr const char kAppTitle[] = "Facetta";      // 57344, 128
inline constexpr const char kIdleMessage[] = "就绪";       // 57345
inline constexpr const char kToolbarName[] = "标准";       // 124
inline constexpr const char kDocumentName[] = "图片";      // new documents: 图片1, 图片2, ...
inline constexpr const char kIndicatorCaps[] = "CAP";     // 59137
inline constexpr const char kIndicatorNum[] = "NUM";      // 59138
inline constexpr const char kIndicatorScroll[] = "SCRL";  // 59139
