#include "wallpaper.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <cstring>
#include <string>
#include <vector>

#include "gsettings_store.h"
#include "image_encoder.h"
#include "picture_writer.h"

namespace {

constexpr int kCommandTimeoutMs = 15000;
constexpr int kBusTimeoutMs = 10000;
const QString kAppliedRecord = QStringLiteral(".last-applied");

struct Outcome {
    QString strFailure;  // empty: applied
    QString strAdvice;
};

QString FromStd(const std::string& s) {
    return QString::fromStdString(s);
}

Outcome ApplyGSettings(const char* schema, std::vector<GSettingsWrite> writes,
                       const QString& advice) {
    const std::string error = WriteGSettings(schema, writes);
    if (error.empty()) return {};
    return {FromStd(error), advice};
}

// Runs a desktop's own command, no shell in between.
QString RunCommand(const QString& program, const QStringList& arguments) {
    if (QStandardPaths::findExecutable(program).isEmpty())
        return program + QStringLiteral(" is not installed");
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(kCommandTimeoutMs))
        return program + QStringLiteral(" could not be started");
    if (!process.waitForFinished(kCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return program +
               QStringLiteral(" did not finish within %1 seconds").arg(kCommandTimeoutMs / 1000);
    }
    if (process.exitStatus() != QProcess::NormalExit) return program + QStringLiteral(" crashed");
    if (process.exitCode() != 0) {
        QString detail = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (detail.isEmpty())
            detail = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        detail = detail.section(QLatin1Char('\n'), 0, 0);
        return program + QStringLiteral(" failed (exit status %1)").arg(process.exitCode()) +
               (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    }
    return {};
}

QString BusProblem(const QDBusConnection& bus) {
    if (bus.isConnected()) return {};
    const QString detail = bus.lastError().message();
    return QStringLiteral("there is no session bus") +
           (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')'));
}

// A JavaScript string literal for any path: quotes and backslashes cannot end it early.
QString ScriptString(const QString& text) {
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

Outcome ApplyPlasma(const QString& path) {
    const QString advice = QStringLiteral(
        "make sure plasmashell is running in this session, or pick the picture in Configure "
        "Desktop and Wallpaper");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (const QString problem = BusProblem(bus); !problem.isEmpty()) return {problem, advice};
    // Every desktop (one per screen and activity) gets the picture, cropped to fill.
    const QString script =
        QStringLiteral(
            "var image = %1;\n"
            "var all = desktops();\n"
            "for (var i = 0; i < all.length; ++i) {\n"
            "    var d = all[i];\n"
            "    d.wallpaperPlugin = \"org.kde.image\";\n"
            "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
            "    d.writeConfig(\"Image\", image);\n"
            "    d.writeConfig(\"FillMode\", 2);\n"
            "}\n")
            .arg(ScriptString(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)));
    QDBusInterface shell(QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
                         QStringLiteral("org.kde.PlasmaShell"), bus);
    shell.setTimeout(kBusTimeoutMs);
    const QDBusMessage reply = shell.call(QStringLiteral("evaluateScript"), script);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return {QStringLiteral("the Plasma shell (org.kde.plasmashell) did not take the script: ") +
                    reply.errorMessage(),
                advice};
    return {};
}

struct XfceResult {
    Outcome outcome;
    QStringList current;  // last-image values before the change
};

XfceResult ApplyXfce(const QString& path, const WallpaperRequest& request) {
    const QString advice = QStringLiteral(
        "make sure xfconfd answers (xfconf-query -c xfce4-desktop -l), or pick the picture in "
        "Desktop Settings");
    const QString channel = QStringLiteral("xfce4-desktop");
    XfceResult result;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (const QString problem = BusProblem(bus); !problem.isEmpty()) {
        result.outcome = {problem, advice};
        return result;
    }
    QDBusInterface xfconf(QStringLiteral("org.xfce.Xfconf"), QStringLiteral("/org/xfce/Xfconf"),
                          QStringLiteral("org.xfce.Xfconf"), bus);
    xfconf.setTimeout(kBusTimeoutMs);
    QDBusReply<QVariantMap> all =
        xfconf.call(QStringLiteral("GetAllProperties"), channel, QStringLiteral("/backdrop"));
    QStringList prefixes;  // ".../workspaceN/" of every monitor and workspace the desktop knows
    if (all.isValid()) {
        for (auto it = all.value().cbegin(); it != all.value().cend(); ++it) {
            if (!it.key().endsWith(QLatin1String("/last-image"))) continue;
            prefixes << it.key().chopped(static_cast<qsizetype>(std::strlen("last-image")));
            result.current << it.value().toString();
        }
    } else if (all.error().type() == QDBusError::ServiceUnknown ||
               all.error().type() == QDBusError::NoReply ||
               all.error().type() == QDBusError::Timeout) {
        result.outcome = {
            QStringLiteral("xfconf does not answer on the session bus: ") + all.error().message(),
            advice};
        return result;
    }
    // A channel without backdrops yet (a fresh account): the monitors we know, first workspace.
    if (prefixes.isEmpty()) {
        QStringList monitors = request.monitorNames;
        monitors << QStringLiteral("0");
        monitors.removeDuplicates();
        for (const QString& m : monitors)
            prefixes << QStringLiteral("/backdrop/screen0/monitor%1/workspace0/").arg(m);
    }
    // 5 zooms each monitor's picture to fill it; 6 spans one picture over all of them.
    const int style = request.bSpanned ? 6 : 5;
    for (const QString& prefix : prefixes) {
        for (const auto& [name, value] :
             {std::pair{QStringLiteral("image-style"), QVariant(style)},
              std::pair{QStringLiteral("last-image"), QVariant(path)}}) {
            const QDBusMessage reply =
                xfconf.call(QStringLiteral("SetProperty"), channel, prefix + name,
                            QVariant::fromValue(QDBusVariant(value)));
            if (reply.type() == QDBusMessage::ErrorMessage) {
                result.outcome = {QStringLiteral("xfconf refused %1%2: %3")
                                      .arg(prefix, name, reply.errorMessage()),
                                  advice};
                return result;
            }
        }
    }
    return result;
}

Outcome ApplyLxqt(const QString& path) {
    const QString failure = RunCommand(
        QStringLiteral("pcmanfm-qt"), {QStringLiteral("--set-wallpaper"), path,
                                       QStringLiteral("--wallpaper-mode"), QStringLiteral("zoom")});
    if (failure.isEmpty()) return {};
    return {
        failure,
        QStringLiteral(
            "make sure pcmanfm-qt runs the desktop, or pick the picture in Desktop Preferences")};
}

Outcome ApplySway(const QString& path) {
    // swaymsg joins its arguments into one sway command: quote the path for sway's parser.
    QString quoted = path;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""));
    const QString failure =
        RunCommand(QStringLiteral("swaymsg"),
                   {QStringLiteral("output"), QStringLiteral("*"), QStringLiteral("bg"),
                    QLatin1Char('"') + quoted + QLatin1Char('"'), QStringLiteral("fill")});
    if (failure.isEmpty()) return {};
    return {failure, QStringLiteral("make sure SWAYSOCK points to the running sway, or add "
                                    "\"output * bg <picture> fill\" to sway's config")};
}

Outcome ApplyX11(const QString& path, bool bSpanned) {
    if (!QStandardPaths::findExecutable(QStringLiteral("feh")).isEmpty()) {
        QStringList args{QStringLiteral("--bg-fill")};
        if (bSpanned) args << QStringLiteral("--no-xinerama");
        args << path;
        const QString failure = RunCommand(QStringLiteral("feh"), args);
        if (failure.isEmpty()) return {};
        return {failure, QStringLiteral("check that DISPLAY names the running X server")};
    }
    if (!QStandardPaths::findExecutable(QStringLiteral("xwallpaper")).isEmpty()) {
        const QString failure =
            RunCommand(QStringLiteral("xwallpaper"), {QStringLiteral("--zoom"), path});
        if (failure.isEmpty()) return {};
        return {failure, QStringLiteral("check that DISPLAY names the running X server")};
    }
    return {QStringLiteral("neither feh nor xwallpaper is installed"),
            QStringLiteral("install feh or xwallpaper (apt-get install feh), or set the picture "
                           "with your desktop's own tool")};
}

QString UriToPath(const QString& value) {
    if (value.startsWith(QLatin1String("file:"))) return QUrl(value).toLocalFile();
    return value;
}

// Pictures the desktops may be showing now; pruning leaves them alone.
QStringList PicturesInUse(const QString& folder) {
    QStringList inUse;
    const struct {
        const char* schema;
        const char* key;
    } keys[] = {
        {"org.gnome.desktop.background", "picture-uri"},
        {"org.gnome.desktop.background", "picture-uri-dark"},
        {"org.cinnamon.desktop.background", "picture-uri"},
        {"org.mate.background", "picture-filename"},
    };
    for (const auto& k : keys)
        if (const auto value = ReadGSettingsString(k.schema, k.key))
            inUse << UriToPath(FromStd(*value));
    QFile record(QDir(folder).filePath(kAppliedRecord));
    if (record.open(QIODevice::ReadOnly))
        for (const QByteArray& line : record.readAll().split('\n'))
            if (!line.isEmpty()) inUse << QString::fromUtf8(line);
    return inUse;
}

void RememberApplied(const QString& folder, const QString& path) {
    QSaveFile record(QDir(folder).filePath(kAppliedRecord));
    if (record.open(QIODevice::WriteOnly)) {
        record.write(path.toUtf8() + '\n');
        record.commit();
    }
}

QString NewPicturePath(const QDir& folder) {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    QString path = folder.filePath(QStringLiteral("facetta-%1.png").arg(stamp));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("facetta-%1-%2.png").arg(stamp).arg(n));
    return path;
}

}  // namespace

DesktopEnvironment DesktopEnvironment::FromProcess() {
    DesktopEnvironment env;
    env.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    env.sessionDesktop = qEnvironmentVariable("XDG_SESSION_DESKTOP");
    if (env.sessionDesktop.isEmpty()) env.sessionDesktop = qEnvironmentVariable("DESKTOP_SESSION");
    env.bSwaySocket = !qEnvironmentVariableIsEmpty("SWAYSOCK");
    env.bX11Display = !qEnvironmentVariableIsEmpty("DISPLAY");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()) {
        const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
        if (names.isValid()) env.busNames = names.value();
    }
    return env;
}

DesktopKind DetectDesktop(const DesktopEnvironment& env) {
    QStringList tokens = env.currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    tokens << env.sessionDesktop;
    static const char* const kGnomeFamily[] = {
        "gnome",          "gnome-classic", "gnome-flashback", "ubuntu", "budgie",
        "budgie-desktop", "unity",         "pantheon",        "pop",    "zorin"};
    for (QString t : tokens) {
        t = t.trimmed().toLower();
        if (t.isEmpty()) continue;
        if (t.contains(QLatin1String("cinnamon"))) return DesktopKind::Cinnamon;
        if (t == QLatin1String("mate")) return DesktopKind::Mate;
        if (t == QLatin1String("kde") || t.startsWith(QLatin1String("plasma")))
            return DesktopKind::Plasma;
        if (t == QLatin1String("xfce") || t == QLatin1String("xfce4")) return DesktopKind::Xfce;
        if (t == QLatin1String("lxqt")) return DesktopKind::Lxqt;
        if (t == QLatin1String("sway")) return DesktopKind::Sway;
        for (const char* g : kGnomeFamily)
            if (t == QLatin1String(g)) return DesktopKind::Gnome;
    }
    // Nothing in the environment: who answers on the session bus.
    const struct {
        const char* name;
        DesktopKind kind;
    } owners[] = {
        {"org.kde.plasmashell", DesktopKind::Plasma},
        {"org.Cinnamon", DesktopKind::Cinnamon},
        {"org.mate.SessionManager", DesktopKind::Mate},
        {"org.xfce.SessionManager", DesktopKind::Xfce},
        {"org.xfce.Panel", DesktopKind::Xfce},
        {"org.lxqt.session", DesktopKind::Lxqt},
        {"org.gnome.Shell", DesktopKind::Gnome},
    };
    for (const auto& o : owners)
        if (env.busNames.contains(QLatin1String(o.name))) return o.kind;
    if (env.bSwaySocket) return DesktopKind::Sway;
    if (env.bX11Display) return DesktopKind::X11;
    return DesktopKind::None;
}

QString DesktopName(DesktopKind kind) {
    switch (kind) {
        case DesktopKind::Gnome:
            return QStringLiteral("GNOME");
        case DesktopKind::Cinnamon:
            return QStringLiteral("Cinnamon");
        case DesktopKind::Mate:
            return QStringLiteral("MATE");
        case DesktopKind::Plasma:
            return QStringLiteral("KDE Plasma");
        case DesktopKind::Xfce:
            return QStringLiteral("Xfce");
        case DesktopKind::Lxqt:
            return QStringLiteral("LXQt");
        case DesktopKind::Sway:
            return QStringLiteral("sway");
        case DesktopKind::X11:
            return QStringLiteral("X11");
        case DesktopKind::None:
            break;
    }
    return QStringLiteral("none");
}

QString WallpaperFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is invalid and is ignored.
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/facetta/wallpapers");
}

void PruneWallpapers(const QString& folder, int keep, const QStringList& inUse) {
    QDir dir(folder);
    QStringList protectedPaths;
    for (const QString& p : inUse) protectedPaths << QFileInfo(p).absoluteFilePath();
    const QStringList names =
        dir.entryList({QStringLiteral("facetta-*.png")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (qsizetype i = keep; i < names.size(); ++i) {
        const QString path = dir.absoluteFilePath(names[i]);
        if (!protectedPaths.contains(path)) QFile::remove(path);
    }
}

WallpaperResult SetWallpaper(const Picture& picture, const WallpaperRequest& request,
                             const DesktopEnvironment& env) {
    WallpaperResult result;
    result.desktop = DetectDesktop(env);

    const QString folder = WallpaperFolder();
    if (!QDir().mkpath(folder)) {
        result.strWriteError = QStringLiteral("cannot make the folder %1").arg(folder);
        return result;
    }
    const QString path = NewPicturePath(QDir(folder));
    ImageEncoderId png{};
    FindImageEncoder(QStringLiteral("image/png"), &png);
    int osError = 0;
    const Status status = WritePicture(picture, path, png, 100, &osError);
    if (status != Status::Ok) {
        result.strWriteError =
            QStringLiteral("cannot write %1: %2")
                .arg(path, status == Status::Win32Error
                               ? QString::fromLocal8Bit(std::strerror(osError))
                               : QStringLiteral("status %1").arg(static_cast<int>(status)));
        return result;
    }
    result.strPath = path;

    const QString options = request.bSpanned ? QStringLiteral("spanned") : QStringLiteral("zoom");
    const std::string uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString();
    Outcome outcome;
    QStringList alsoInUse;
    switch (result.desktop) {
        case DesktopKind::Gnome:
            outcome = ApplyGSettings(
                "org.gnome.desktop.background",
                {{"picture-uri", uri},
                 {"picture-uri-dark", uri, true},
                 {"picture-options", options.toStdString()}},
                QStringLiteral("check that gsettings-desktop-schemas and dconf-gsettings-backend "
                               "are installed, or pick the picture in Settings > Appearance"));
            break;
        case DesktopKind::Cinnamon:
            outcome =
                ApplyGSettings("org.cinnamon.desktop.background",
                               {{"picture-uri", uri}, {"picture-options", options.toStdString()}},
                               QStringLiteral("pick the picture in System Settings > Backgrounds"));
            break;
        case DesktopKind::Mate:
            outcome = ApplyGSettings(
                "org.mate.background",
                {{"picture-filename", path.toStdString()},
                 {"picture-options", options.toStdString()}},
                QStringLiteral("pick the picture in Appearance Preferences > Background"));
            break;
        case DesktopKind::Plasma:
            outcome = ApplyPlasma(path);
            break;
        case DesktopKind::Xfce: {
            XfceResult x = ApplyXfce(path, request);
            outcome = x.outcome;
            alsoInUse = x.current;
            break;
        }
        case DesktopKind::Lxqt:
            outcome = ApplyLxqt(path);
            break;
        case DesktopKind::Sway:
            outcome = ApplySway(path);
            break;
        case DesktopKind::X11:
            outcome = ApplyX11(path, request.bSpanned);
            break;
        case DesktopKind::None:
            outcome = {
                QStringLiteral("no desktop was found (XDG_CURRENT_DESKTOP is empty or unknown, no "
                               "known desktop answers on the session bus, no DISPLAY)"),
                QStringLiteral("set the picture with your desktop's own background settings")};
            break;
    }
    result.bApplied = outcome.strFailure.isEmpty();
    result.strFailure = outcome.strFailure;
    result.strAdvice = outcome.strAdvice;
    if (result.bApplied) RememberApplied(folder, path);

    QStringList inUse = PicturesInUse(folder);
    inUse << alsoInUse << path;
    PruneWallpapers(folder, kKeptWallpapers, inUse);
    return result;
}
