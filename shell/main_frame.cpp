#include "main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDockWidget>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <initializer_list>

#include "about_dlg.h"
#include "child_frame.h"
#include "commands.h"
#include "facetta_app.h"
#include "facetta_doc.h"
#include "facetta_view.h"
#include "key_lock_state.h"
#include "print_helper.h"
#include "properties_wnd.h"
#include "screen_size.h"
#include "tab_colors.h"
#include "visual_looks.h"
#include "windows_dialog.h"

namespace {

const QString kLookKey = QStringLiteral("Workspace/ApplicationLook");
const QString kGeometryKey = QStringLiteral("Workspace/Geometry");
const QString kStateKey = QStringLiteral("Workspace/State");
const QString kStatusBarKey = QStringLiteral("Workspace/StatusBar");

constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;

struct ZoomItem {
    const char* pszText;
    int nData;
};
constexpr ZoomItem kZoomItems[] = {{QT_TRANSLATE_NOOP("CMainFrame", "适应窗口"), -1},
                                   {"50%", 50},
                                   {"100%", 100},
                                   {"200%", 200},
                                   {"400%", 400}};

QString Utf8(const char* psz) {
    return QString::fromUtf8(psz);
}

}  // namespace

QPoint DefaultWindowPosition(const QRect& work, const QSize& size) {
    const int x = work.left() + (work.width() - size.width()) / 2;
    const int y = work.top() + (work.height() - size.height()) / 2;
    return QPoint(std::max(x, work.left()), std::max(y, work.top()));
}

CMainFrame::CMainFrame(CFacettaApp& app, QWidget* parent) : QMainWindow(parent), m_app(app) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(Utf8(kAppTitle));
    setMinimumSize(640, 480);
    setDockOptions(AnimatedDocks | AllowNestedDocks | AllowTabbedDocks);

    {
        auto settings = m_app.OpenSettings();
        bool bOk = false;
        const uint32_t nLook = settings->value(kLookKey, ID_LOOK_OFFICE_2007_BLACK).toUInt(&bOk);
        m_app.m_nLook = bOk ? nLook : uint32_t{ID_LOOK_OFFICE_2007_BLACK};
    }

    CreateActions();
    CreateTabs();
    CreateToolBar();
    CreateMenus();
    CreateStatusBar();
    m_wndProperties = new CPropertiesWnd(tr("属性"), this);
    m_wndProperties->SetActiveViewProvider([this] { return GetActivePreviewView(); });
    addDockWidget(Qt::RightDockWidgetArea, m_wndProperties);
    // Docking panes belong above this line: the saved layout can only place what exists.
    OnApplicationLook(static_cast<int>(m_app.m_nLook));
    RestoreWorkspace();
    OnActiveViewChanged();
}

CMainFrame::~CMainFrame() {
    // Child frames go first, while the slots they may call still have a frame to talk to.
    disconnect(m_pMdiArea, nullptr, this, nullptr);
    if (m_pTabBar) m_pTabBar->removeEventFilter(this);
    m_indicatorTimer.stop();
    for (CChildFrame* f : GetChildFrames()) {
        disconnect(f, nullptr, this, nullptr);
        delete f;
    }
}

// ---------------------------------------------------------------------------------------------
// Building the window

void CMainFrame::CreateActions() {
    for (const CommandInfo& c : kCommands) {
        if (c.nId == ID_VIEW_TOOLBAR || c.nId == ID_ZOOM_BOX)
            continue;  // the toolbar's own, the box
        auto* a = new QAction(CommandText(c.pszMenuText), this);
        a->setData(c.nId);
        if (*c.pszKey) a->setShortcut(QKeySequence(Utf8(c.pszKey), QKeySequence::PortableText));
        a->setStatusTip(CommandText(c.pszPrompt));
        if (*c.pszTooltip) a->setToolTip(CommandText(c.pszTooltip));
        if (*c.pszIcon) a->setIcon(QIcon(Utf8(c.pszIcon)));
        a->setEnabled(false);  // until something handles it
        m_commands.insert(c.nId, a);
        addAction(a);  // keys work whichever menu is shown
    }

    auto handle = [this](int nId, auto&& fn) {
        QAction* a = m_commands.value(nId);
        connect(a, &QAction::triggered, this, fn);
        a->setEnabled(true);
    };
    handle(ID_FILE_NEW, [this] { OnFileNew(); });
    handle(ID_APP_EXIT, [this] { close(); });
    handle(ID_WINDOW_CLOSE_ACTIVE, [this] { OnCloseActiveWindow(); });
    handle(ID_WINDOW_CLOSE_ALL, [this] { OnCloseAllWindows(); });
    handle(ID_WINDOWS_DIALOG, [this] { OnWindowsDialog(); });
    handle(ID_VISIT_WEBSITE, [this] { OnVisitWebsite(); });
    handle(ID_FILE_PRINT_SETUP,
           [this] { CPrintHelper::PrintSetup(this, CFacettaView::s_fnExecDialog); });
    handle(ID_APP_ABOUT, [this] {
        // A new box, and so a new banner, on every opening.
        CAboutDlg dlg(m_app.m_nVersion, this);
        dlg.exec();
    });

    // Closing the document is closing its one window; there is none to close without a view.
    connect(m_commands.value(ID_FILE_CLOSE), &QAction::triggered, this,
            [this] { OnCloseActiveWindow(); });
    m_viewCommands.append(ID_FILE_CLOSE);
    ConnectViewCommand(ID_FILE_SAVE, &CFacettaView::OnSavePicture);
    ConnectViewCommand(ID_FILE_SAVE_AS, &CFacettaView::OnSavePicture);
    ConnectViewCommand(ID_GENERATE_PREVIEW, &CFacettaView::OnGeneratePreview);
    ConnectViewCommand(ID_FILE_PRINT, &CFacettaView::OnFilePrint);
    ConnectViewCommand(ID_FILE_PRINT_PREVIEW, &CFacettaView::OnFilePrintPreview);
    ConnectViewCommand(ID_COPY_PICTURE, &CFacettaView::OnCopyPicture);
    ConnectViewCommand(ID_COPY_RECIPE, &CFacettaView::OnCopyRecipe);
    ConnectViewCommand(ID_PASTE_RECIPE, &CFacettaView::OnPasteRecipe);
    ConnectViewCommand(ID_PREVIOUS_VARIANT, &CFacettaView::OnPreviousVariant);
    ConnectViewCommand(ID_NEXT_VARIANT, &CFacettaView::OnNextVariant);
    // Enabled by UpdateVariantCommands, not merely by a window being open.
    m_viewCommands.removeAll(ID_PREVIOUS_VARIANT);
    m_viewCommands.removeAll(ID_NEXT_VARIANT);
    ConnectViewCommand(ID_SET_WALLPAPER, &CFacettaView::OnSetWallpaper);
    for (int nId : {ID_FIT_SCREEN, ID_FIT_ALL_SCREENS}) {
        connect(m_commands.value(nId), &QAction::triggered, this,
                [this, nId] { OnFitScreen(nId == ID_FIT_ALL_SCREENS); });
        m_viewCommands.append(nId);
    }

    QAction* pStatusBar = m_commands.value(ID_VIEW_STATUS_BAR);
    pStatusBar->setCheckable(true);
    pStatusBar->setChecked(true);
    pStatusBar->setEnabled(true);
    connect(pStatusBar, &QAction::toggled, this,
            [this](bool bOn) { statusBar()->setVisible(bOn); });

    // None marked is allowed: an unknown stored look marks nothing.
    m_pLookGroup = new QActionGroup(this);
    m_pLookGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int nId = ID_LOOK_WIN2000; nId <= ID_LOOK_OFFICE_2007_AQUA; ++nId) {
        QAction* a = m_commands.value(nId);
        a->setCheckable(true);
        m_pLookGroup->addAction(a);
        handle(nId, [this, nId] { OnApplicationLook(nId); });
    }
}

void CMainFrame::ConnectViewCommand(int nId, void (CFacettaView::*pfnHandler)()) {
    connect(m_commands.value(nId), &QAction::triggered, this, [this, pfnHandler] {
        if (CFacettaView* pView = GetActivePreviewView()) (pView->*pfnHandler)();
    });
    m_viewCommands.append(nId);
}

void CMainFrame::CreateMenus() {
    auto fill = [this](QMenu* pMenu, std::initializer_list<int> ids) {
        for (int nId : ids) {
            if (nId == 0)
                pMenu->addSeparator();
            else
                pMenu->addAction(m_commands.value(nId));
        }
    };

    auto* pLooks = new QMenu(tr("应用程序外观(&A)"), this);
    fill(pLooks,
         {ID_LOOK_WIN2000, ID_LOOK_OFFICE_XP, ID_LOOK_WINXP, ID_LOOK_OFFICE_2003, ID_LOOK_VS2005});
    QMenu* p2007 = pLooks->addMenu(tr("Office 2007(&7)"));
    fill(p2007, {ID_LOOK_OFFICE_2007_BLUE, ID_LOOK_OFFICE_2007_BLACK, ID_LOOK_OFFICE_2007_SILVER,
                 ID_LOOK_OFFICE_2007_AQUA});

    // Menu 128: no preview window open.
    auto* pFile128 = new QMenu(tr("文件(&F)"), this);
    fill(pFile128,
         {ID_FILE_NEW, ID_FILE_CLOSE, 0, ID_GENERATE_PREVIEW, ID_COPY_PICTURE, ID_SET_WALLPAPER, 0,
          ID_COPY_RECIPE, ID_PASTE_RECIPE, 0, ID_FILE_PRINT_SETUP, 0, ID_APP_EXIT});
    auto* pView128 = new QMenu(tr("视图(&V)"), this);
    QMenu* pToolbars = pView128->addMenu(tr("工具栏和停靠窗口(&T)"));
    FillToolbarsMenu(pToolbars);
    connect(pToolbars, &QMenu::aboutToShow, this,
            [this, pToolbars] { FillToolbarsMenu(pToolbars); });
    fill(pView128, {ID_VIEW_STATUS_BAR});
    pView128->addMenu(pLooks);
    auto* pHelp = new QMenu(tr("帮助(&H)"), this);
    fill(pHelp, {ID_VISIT_WEBSITE, ID_APP_ABOUT});
    m_menus128 = {pFile128, pView128, pHelp};

    // Menu 130: a preview window is active.
    auto* pFile130 = new QMenu(tr("文件(&F)"), this);
    fill(pFile130,
         {ID_FILE_NEW, ID_FILE_CLOSE, ID_FILE_SAVE, ID_FILE_SAVE_AS, 0, ID_GENERATE_PREVIEW,
          ID_COPY_PICTURE, ID_SET_WALLPAPER, 0, ID_COPY_RECIPE, ID_PASTE_RECIPE, 0, ID_FILE_PRINT,
          ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP, 0, ID_APP_EXIT});
    auto* pView130 = new QMenu(tr("视图(&V)"), this);
    fill(pView130, {ID_VIEW_STATUS_BAR, 0, ID_PREVIOUS_VARIANT, ID_NEXT_VARIANT, 0});
    pView130->addMenu(pLooks);
    fill(pView130, {0, ID_FIT_SCREEN, ID_FIT_ALL_SCREENS});
    auto* pWindow = new QMenu(tr("窗口(&W)"), this);
    FillWindowMenu(pWindow);
    connect(pWindow, &QMenu::aboutToShow, this, [this, pWindow] { FillWindowMenu(pWindow); });
    m_menus130 = {pFile130, pView130, pWindow, pHelp};
}

void CMainFrame::FillToolbarsMenu(QMenu* pMenu) {
    // Every toolbar and pane of the window as a check item, as the placeholder promises.
    pMenu->clear();
    for (QToolBar* pBar : findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly))
        pMenu->addAction(pBar->toggleViewAction());
    for (QDockWidget* pDock : findChildren<QDockWidget*>(QString(), Qt::FindDirectChildrenOnly))
        pMenu->addAction(pDock->toggleViewAction());
}

void CMainFrame::FillWindowMenu(QMenu* pMenu) {
    pMenu->clear();
    pMenu->addAction(m_commands.value(ID_WINDOW_NEW));
    pMenu->addAction(m_commands.value(ID_WINDOW_CLOSE_ACTIVE));
    pMenu->addAction(m_commands.value(ID_WINDOW_CLOSE_ALL));
    pMenu->addSeparator();
    // The open windows, numbered; at most nine, the rest through the windows dialog.
    const QList<CChildFrame*> frames = GetChildFrames();
    const QMdiSubWindow* pCurrent = m_pMdiArea->currentSubWindow();
    for (qsizetype i = 0; i < std::min<qsizetype>(frames.size(), 9); ++i) {
        CChildFrame* f = frames[i];
        QAction* a = pMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(f->windowTitle()));
        a->setCheckable(true);
        a->setChecked(f == pCurrent);
        connect(a, &QAction::triggered, this, [this, f] { m_pMdiArea->setActiveSubWindow(f); });
    }
    pMenu->addAction(m_commands.value(ID_WINDOWS_DIALOG));
}

void CMainFrame::FillDocumentList(QMenu* pMenu) {
    pMenu->clear();
    const QMdiSubWindow* pCurrent = m_pMdiArea->currentSubWindow();
    for (CChildFrame* f : GetChildFrames()) {
        QAction* a = pMenu->addAction(f->windowTitle());
        a->setCheckable(true);
        a->setChecked(f == pCurrent);
        connect(a, &QAction::triggered, this, [this, f] { m_pMdiArea->setActiveSubWindow(f); });
    }
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = addToolBar(CommandText(kToolbarName));
    m_wndToolBar->setObjectName(QStringLiteral("StandardToolBar"));
    m_wndToolBar->setIconSize(QSize(16, 16));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    const CommandInfo* pZoom = FindCommand(ID_ZOOM_BOX);
    m_pZoomBox = new QComboBox(m_wndToolBar);
    m_pZoomBox->setObjectName(QStringLiteral("ZoomBox"));
    m_pZoomBox->setEditable(false);
    m_pZoomBox->setFixedWidth(100);
    m_pZoomBox->setMaxVisibleItems(static_cast<int>(std::size(kZoomItems)));
    m_pZoomBox->setToolTip(CommandText(pZoom->pszTooltip));
    m_pZoomBox->setStatusTip(CommandText(pZoom->pszPrompt));
    for (const ZoomItem& item : kZoomItems) m_pZoomBox->addItem(tr(item.pszText), item.nData);
    m_pZoomBox->setCurrentIndex(0);
    // The wheel turns the zoom only once the box has been clicked or tabbed into, not while
    // the pointer merely passes over it.
    m_pZoomBox->setFocusPolicy(Qt::StrongFocus);
    m_pZoomBox->installEventFilter(this);
    // Only a real change of the selection acts; picking the selected item again does not.
    connect(m_pZoomBox, &QComboBox::currentIndexChanged, this, &CMainFrame::OnZoomChange);

    for (int nId : std::initializer_list<int>{
             ID_FILE_NEW, ID_FILE_SAVE, ID_COPY_PICTURE, 0, ID_ZOOM_BOX, 0, ID_GENERATE_PREVIEW,
             ID_PREVIOUS_VARIANT, ID_NEXT_VARIANT, ID_FILE_PRINT, 0, ID_FIT_SCREEN,
             ID_FIT_ALL_SCREENS, ID_SET_WALLPAPER, 0, ID_APP_ABOUT, ID_VISIT_WEBSITE}) {
        if (nId == 0)
            m_wndToolBar->addSeparator();
        else if (nId == ID_ZOOM_BOX)
            m_wndToolBar->addWidget(m_pZoomBox)->setData(ID_ZOOM_BOX);
        else
            m_wndToolBar->addAction(m_commands.value(nId));
    }
    QAction* pToggle = m_wndToolBar->toggleViewAction();
    pToggle->setData(ID_VIEW_TOOLBAR);
    m_commands.insert(ID_VIEW_TOOLBAR, pToggle);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* pBar = statusBar();
    pBar->setObjectName(QStringLiteral("StatusBar"));
    const char* texts[] = {kIndicatorCaps, kIndicatorNum, kIndicatorScroll};
    for (size_t i = 0; i < m_indicators.size(); ++i) {
        auto* pLabel = new QLabel(Utf8(texts[i]), pBar);
        pLabel->setAlignment(Qt::AlignCenter);
        pLabel->setMinimumWidth(pLabel->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) +
                                14);
        pLabel->setEnabled(false);  // greyed while the state is off or unknown
        pBar->addPermanentWidget(pLabel);
        m_indicators[i] = pLabel;
    }
    // The idle text comes back whenever a prompt goes away.
    connect(pBar, &QStatusBar::messageChanged, this, [pBar](const QString& strMessage) {
        if (strMessage.isEmpty()) pBar->showMessage(CommandText(kIdleMessage));
    });
    pBar->showMessage(CommandText(kIdleMessage));

    connect(&m_indicatorTimer, &QTimer::timeout, this, &CMainFrame::UpdateKeyIndicators);
    if (QueryKeyLockState()) {
        UpdateKeyIndicators();
        m_indicatorTimer.start(250);
    }
}

void CMainFrame::UpdateKeyIndicators() {
    const std::optional<KeyLockState> state = QueryKeyLockState();
    const bool on[] = {state && state->bCaps, state && state->bNum, state && state->bScroll};
    for (size_t i = 0; i < m_indicators.size(); ++i) m_indicators[i]->setEnabled(on[i]);
}

void CMainFrame::CreateTabs() {
    m_pMdiArea = new QMdiArea(this);
    m_pMdiArea->setObjectName(QStringLiteral("MdiArea"));
    m_pMdiArea->setViewMode(QMdiArea::TabbedView);
    m_pMdiArea->setDocumentMode(true);
    m_pMdiArea->setTabsClosable(true);
    m_pMdiArea->setTabsMovable(true);
    setCentralWidget(m_pMdiArea);

    m_pTabBar = m_pMdiArea->findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (m_pTabBar) {
        m_pTabBar->setExpanding(false);
        m_pTabBar->setElideMode(Qt::ElideNone);
        m_pTabBar->installEventFilter(this);
        // Each new window's tab gets the next colour.
        m_pTabColors = new CTabColors(m_pTabBar);
    }

    // The document list at the right end of the tab row.
    m_pDocListButton = new QToolButton(m_pMdiArea);
    m_pDocListButton->setObjectName(QStringLiteral("DocumentList"));
    m_pDocListButton->setArrowType(Qt::DownArrow);
    m_pDocListButton->setAutoRaise(true);
    m_pDocListButton->setToolTip(tr("活动文档"));
    auto* pList = new QMenu(m_pDocListButton);
    connect(m_pDocListButton, &QToolButton::clicked, this, [this, pList] {
        // Opens leftwards from the button: it sits at the window's right edge.
        FillDocumentList(pList);
        const QSize size = pList->sizeHint();
        pList->popup(m_pDocListButton->mapToGlobal(
            QPoint(m_pDocListButton->width() - size.width(), m_pDocListButton->height())));
    });
    m_pDocListButton->hide();

    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnActiveViewChanged);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pZoomBox && event->type() == QEvent::Wheel && !m_pZoomBox->hasFocus()) {
        event->ignore();
        return true;
    }
    if (watched == m_pTabBar) {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::Move:
            case QEvent::Show:
            case QEvent::Hide:
                PlaceDocumentListButton();
                break;
            default:
                break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::PlaceDocumentListButton() {
    if (!m_pTabBar || !m_pDocListButton) return;
    if (m_pTabBar->isHidden() || GetChildFrames().isEmpty()) {
        m_pDocListButton->hide();
        return;
    }
    // The area lays the tab row over its whole width; keep the last square for the button.
    QRect bar = m_pTabBar->geometry();
    const int nSide = std::max(bar.height(), 16);
    const int nRight = m_pMdiArea->contentsRect().right() - nSide;
    if (bar.right() > nRight) {
        bar.setRight(nRight);
        m_pTabBar->setGeometry(bar);
    }
    m_pDocListButton->setGeometry(nRight + 1, bar.top(), nSide, bar.height());
    m_pDocListButton->show();
    m_pDocListButton->raise();
}

// ---------------------------------------------------------------------------------------------
// Workspace

// Enough of the window on some screen to grab it, its top edge included: a saved place that
// lies off every screen (a corrupt store, a monitor since removed) is not restored.
bool CMainFrame::IsReachable(const QRect& rect) {
    for (const QScreen* pScreen : QGuiApplication::screens()) {
        const QRect work = pScreen->availableGeometry();
        const QRect shown = work.intersected(rect);
        if (shown.width() >= qMin(100, rect.width()) && shown.height() >= qMin(30, rect.height()) &&
            rect.top() >= work.top() && rect.top() < work.bottom())
            return true;
    }
    return false;
}

void CMainFrame::RestoreWorkspace() {
    auto settings = m_app.OpenSettings();
    const QByteArray saved = settings->value(kGeometryKey).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved) || !IsReachable(frameGeometry())) {
        // Nothing saved: 800 x 600 in the middle of the work area.
        resize(kDefaultWidth, kDefaultHeight);
        if (const QScreen* pScreen = QGuiApplication::primaryScreen())
            move(DefaultWindowPosition(pScreen->availableGeometry(),
                                       QSize(kDefaultWidth, kDefaultHeight)));
    }
    restoreState(settings->value(kStateKey).toByteArray());
    const bool bStatusBar = settings->value(kStatusBarKey, true).toBool();
    m_commands.value(ID_VIEW_STATUS_BAR)->setChecked(bStatusBar);
    statusBar()->setVisible(bStatusBar);
}

void CMainFrame::SaveWorkspace() {
    auto settings = m_app.OpenSettings();
    settings->setValue(kGeometryKey, saveGeometry());
    settings->setValue(kStateKey, saveState());
    settings->setValue(kStatusBarKey, m_commands.value(ID_VIEW_STATUS_BAR)->isChecked());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Documents hold no data: nothing to ask before leaving.
    SaveWorkspace();
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Preview windows

QList<CChildFrame*> CMainFrame::GetChildFrames() const {
    QList<CChildFrame*> frames;
    for (QMdiSubWindow* w : m_pMdiArea->subWindowList(QMdiArea::CreationOrder)) {
        auto* f = qobject_cast<CChildFrame*>(w);
        if (f && !f->IsClosing()) frames.append(f);
    }
    return frames;
}

CFacettaView* CMainFrame::GetActivePreviewView() const {
    QMdiSubWindow* w = m_pMdiArea->activeSubWindow();
    // The area reports no active window while the main window itself is inactive.
    if (!w) w = m_pMdiArea->currentSubWindow();
    auto* f = qobject_cast<CChildFrame*>(w);
    if (!f || f->IsClosing()) return nullptr;
    return f->GetView();
}

CChildFrame* CMainFrame::OpenDocument(const QString& strTitle) {
    auto* pDoc = new CFacettaDoc;
    pDoc->SetTitle(strTitle);
    auto* pFrame = new CChildFrame(pDoc);
    m_pMdiArea->addSubWindow(pFrame);
    if (m_pTabColors) m_pTabColors->AssignNext(m_pTabBar->count() - 1);
    connect(pFrame, &QObject::destroyed, this, &CMainFrame::OnActiveViewChanged,
            Qt::QueuedConnection);
    connect(pDoc, &CFacettaDoc::TitleChanged, this, &CMainFrame::OnActiveViewChanged);
    CFacettaView* pView = pFrame->GetView();
    connect(pView, &CFacettaView::variantChanged, this,
            [this, pView](bool bSettingsReplaced) { OnVariantChanged(pView, bSettingsReplaced); });
    pFrame->show();
    m_pMdiArea->setActiveSubWindow(pFrame);
    OnActiveViewChanged();
    return pFrame;
}

void CMainFrame::OnFileNew() {
    OpenDocument(CommandText(kDocumentName) + QString::number(++m_nUntitledCount));
}

void CMainFrame::OnActiveViewChanged() {
    CFacettaView* pView = GetActivePreviewView();
    const bool bDocument = pView != nullptr;

    // A newly active window shows its settings in the pane. The same window again (a title
    // change, focus coming back from a dialog) is not rebound: that would end an edit.
    if (pView != m_pBoundView) {
        m_pBoundView = pView;
        if (pView) {
            m_wndProperties->BindSettings(&pView->m_settings);
            m_wndProperties->BindSeed(pView->GetSeed());
        }
    }

    if (bDocument != m_bDocumentMenu || menuBar()->actions().isEmpty()) {
        menuBar()->clear();
        for (QMenu* pMenu : bDocument ? m_menus130 : m_menus128) menuBar()->addMenu(pMenu);
        m_bDocumentMenu = bDocument;
    }
    for (int nId : m_viewCommands) m_commands.value(nId)->setEnabled(bDocument);
    UpdateVariantCommands();
    OnUpdateZoomBox();

    const QString strApp = Utf8(kAppTitle);
    setWindowTitle(bDocument ? pView->GetDocument()->GetTitle() + QStringLiteral(" - ") + strApp
                             : strApp);
    // Tabs carry titles only.
    if (m_pTabBar)
        for (int i = 0; i < m_pTabBar->count(); ++i) m_pTabBar->setTabIcon(i, QIcon());
    PlaceDocumentListButton();
}

void CMainFrame::UpdateVariantCommands() {
    const CFacettaView* pView = GetActivePreviewView();
    m_commands.value(ID_PREVIOUS_VARIANT)->setEnabled(pView && pView->CanShowPreviousVariant());
    m_commands.value(ID_NEXT_VARIANT)->setEnabled(pView && pView->CanShowNextVariant());
}

void CMainFrame::OnVariantChanged(CFacettaView* pView, bool bSettingsReplaced) {
    if (pView == GetActivePreviewView() && pView == m_pBoundView) {
        // Settings the pane did not make are shown whole; after a pane edit only the seed.
        if (bSettingsReplaced) m_wndProperties->BindSettings(&pView->m_settings);
        m_wndProperties->BindSeed(pView->GetSeed());
    }
    UpdateVariantCommands();
}

void CMainFrame::OnUpdateZoomBox() {
    m_pZoomBox->setEnabled(GetActivePreviewView() != nullptr);
}

void CMainFrame::OnZoomChange() {
    CFacettaView* pView = GetActivePreviewView();
    if (!pView) return;
    const int nIndex = m_pZoomBox->currentIndex();
    const int nData = nIndex >= 0 ? m_pZoomBox->itemData(nIndex).toInt() : -1;
    pView->m_fZoom = nData > 0 ? static_cast<float>(nData / 100.0) : -1.0f;
    pView->UpdateScrollSizes(false);
}

void CMainFrame::OnCloseActiveWindow() {
    CFacettaView* pView = GetActivePreviewView();
    if (!pView) return;
    if (auto* f = qobject_cast<CChildFrame*>(m_pMdiArea->activeSubWindow()
                                                 ? m_pMdiArea->activeSubWindow()
                                                 : m_pMdiArea->currentSubWindow()))
        f->close();
}

void CMainFrame::OnCloseAllWindows() {
    // Collect first: closing changes the list.
    const QList<CChildFrame*> frames = GetChildFrames();
    for (CChildFrame* f : frames) f->close();
}

void CMainFrame::OnWindowsDialog() {
    CWindowsDialog dlg(m_pMdiArea, this);
    dlg.exec();
}

void CMainFrame::OnFitScreen(bool bAllScreens) {
    CFacettaView* pView = GetActivePreviewView();
    if (!pView) return;
    const QSize size = bAllScreens ? AllScreensPixelSize(QGuiApplication::screens())
                                   : ScreenPixelSize(pView->screen());
    if (size.isEmpty()) return;
    m_wndProperties->ApplyPictureSize(size.width(), size.height());
}

void CMainFrame::OnVisitWebsite() {
    // No browser or no network: nothing to tell the user.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebsite)));
}

void CMainFrame::OnApplicationLook(int nId) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_app.m_nLook = static_cast<uint32_t>(nId);
    m_pMdiArea->setBackground(ApplyVisualLook(m_app.m_nLook));
    for (QAction* a : m_pLookGroup->actions()) a->setChecked(a->data().toInt() == nId);
    update();
    QApplication::restoreOverrideCursor();

    m_app.OpenSettings()->setValue(kLookKey, m_app.m_nLook);
}
