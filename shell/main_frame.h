#pragma once
// The main window: menus, the standard toolbar with the zoom box, the status bar, and the
// preview windows as tabs. Everything that follows the active preview window is updated in
// OnActiveViewChanged.
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QTimer>

#include <array>

class CChildFrame;
class CFacettaApp;
class CFacettaView;
class CPropertiesWnd;
class CTabColors;
class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QMdiArea;
class QMenu;
class QTabBar;
class QToolBar;
class QToolButton;

// Where a window of `size` opens when nothing is saved: centred in the work area, but never
// with its top or left edge outside it, where the menu bar could not be reached.
QPoint DefaultWindowPosition(const QRect& work, const QSize& size);

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CFacettaApp& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The active preview window's view, or nullptr when none is open.
    CFacettaView* GetActivePreviewView() const;

    // The action of a command id (nullptr for unknown ids).
    QAction* GetCommand(int nId) const { return m_commands.value(nId); }
    QMdiArea* GetMdiArea() const { return m_pMdiArea; }
    QComboBox* GetZoomBox() const { return m_pZoomBox; }
    QToolBar* GetToolBar() const { return m_wndToolBar; }
    // Open preview windows in the order they were opened.
    QList<CChildFrame*> GetChildFrames() const;

    // The settings pane, docked at the right; it shows the active preview window's settings.
    CPropertiesWnd* m_wndProperties = nullptr;

    // Opens a new preview window over a new document with this title.
    CChildFrame* OpenDocument(const QString& strTitle);

public slots:
    void OnActiveViewChanged();
    void OnFileNew();
    void OnApplicationLook(int nId);
    void OnZoomChange();
    void OnUpdateZoomBox();
    void OnCloseActiveWindow();
    void OnCloseAllWindows();
    void OnVisitWebsite();
    void OnWindowsDialog();
    // The active window's picture size from the screen it is on, or from all screens.
    void OnFitScreen(bool bAllScreens);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void ConnectViewCommand(int nId, void (CFacettaView::*pfnHandler)());
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTabs();
    void RestoreWorkspace();
    static bool IsReachable(const QRect& rect);
    void SaveWorkspace();
    void FillToolbarsMenu(QMenu* pMenu);
    void FillWindowMenu(QMenu* pMenu);
    void FillDocumentList(QMenu* pMenu);
    void PlaceDocumentListButton();
    void UpdateKeyIndicators();
    // Back and forward follow the active window's variants.
    void UpdateVariantCommands();
    void OnVariantChanged(CFacettaView* pView, bool bSettingsReplaced);

    CFacettaApp& m_app;
    QMap<int, QAction*> m_commands;
    QList<int> m_viewCommands;  // carried out by the active view: enabled only with one
    QActionGroup* m_pLookGroup = nullptr;
    QList<QMenu*> m_menus128;  // no preview window
    QList<QMenu*> m_menus130;  // a preview window is active
    bool m_bDocumentMenu = false;

    QToolBar* m_wndToolBar = nullptr;
    QComboBox* m_pZoomBox = nullptr;
    QMdiArea* m_pMdiArea = nullptr;
    QTabBar* m_pTabBar = nullptr;
    CTabColors* m_pTabColors = nullptr;
    QToolButton* m_pDocListButton = nullptr;
    std::array<QLabel*, 3> m_indicators{};
    QTimer m_indicatorTimer;
    int m_nUntitledCount = 0;
    QPointer<CFacettaView> m_pBoundView;  // whose settings the pane shows
};
