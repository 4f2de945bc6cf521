#pragma once
// Setting a picture as the desktop background: the picture goes to our wallpapers folder as
// PNG, then the running desktop is told through its own interface (GSettings, D-Bus or its
// own command).
#include <QString>
#include <QStringList>

#include "picture.h"

enum class DesktopKind { None, Gnome, Cinnamon, Mate, Plasma, Xfce, Lxqt, Sway, X11 };

// What the desktop is found from.
struct DesktopEnvironment {
    QString currentDesktop;  // XDG_CURRENT_DESKTOP, a colon-separated list
    QString sessionDesktop;  // XDG_SESSION_DESKTOP, else DESKTOP_SESSION
    QStringList busNames;    // names owned on the session bus
    bool bSwaySocket = false;
    bool bX11Display = false;

    // From this process's environment and session bus.
    static DesktopEnvironment FromProcess();
};

DesktopKind DetectDesktop(const DesktopEnvironment& env);
// "GNOME", "KDE Plasma", "Xfce", ... ("none" for None).
QString DesktopName(DesktopKind kind);

struct WallpaperRequest {
    bool bSpanned = false;     // one picture over all screens rather than one per screen
    QStringList monitorNames;  // the screens' names where known (Xfce keys new monitors by them)
};

struct WallpaperResult {
    QString strPath;        // the written picture; empty when it could not be written
    QString strWriteError;  // why not
    DesktopKind desktop = DesktopKind::None;
    bool bApplied = false;
    QString strFailure;  // what failed, when not applied
    QString strAdvice;   // what the user can do about it
};

// $XDG_DATA_HOME/facetta/wallpapers, by default ~/.local/share/facetta/wallpapers.
QString WallpaperFolder();

// Writes `picture` to the wallpapers folder and applies it to the desktop found in `env`.
// Keeps the folder's newest kKeptWallpapers pictures, and any picture still in use.
inline constexpr int kKeptWallpapers = 10;
WallpaperResult SetWallpaper(const Picture& picture, const WallpaperRequest& request,
                             const DesktopEnvironment& env = DesktopEnvironment::FromProcess());

// Deletes our pictures in `folder` beyond the newest `keep`, except those named in `inUse`.
void PruneWallpapers(const QString& folder, int keep, const QStringList& inUse);
