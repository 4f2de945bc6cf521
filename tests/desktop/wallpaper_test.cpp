// Setting the wallpaper: the desktop found from the environment, and the value each desktop's
// own store ends up with, read back through that desktop's own tools.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "wallpaper.h"

namespace {

struct RunResult {
    int exitCode = -1;
    QString out, err;
};

// Runs a program while this process keeps serving the bus (the fake Plasma shell lives here).
RunResult RunProgram(const QString& program, const QStringList& args,
                     const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    p.start(program, args);
    loop.exec();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// A private home for one test: data, config and the keyfile GSettings store.
struct Home {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Home() {
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
        for (const char* name : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION",
                                 "DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK"})
            env.remove(QString::fromLatin1(name));
    }
    QString Folder() const { return dir.filePath(QStringLiteral("data/facetta/wallpapers")); }
    QStringList Pictures() const {
        return QDir(Folder()).entryList({QStringLiteral("facetta-*.png")}, QDir::Files, QDir::Name);
    }
    RunResult Cli(const QString& desktop, QStringList args) const {
        QProcessEnvironment e = env;
        if (!desktop.isEmpty()) e.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop);
        args.prepend(QStringLiteral("--set-wallpaper"));
        return RunProgram(QStringLiteral(FACETTA_CLI), args, e);
    }
    QString Gsettings(const char* schema, const char* key) const {
        RunResult r =
            RunProgram(QStringLiteral("gsettings"),
                       {QStringLiteral("get"), QLatin1String(schema), QLatin1String(key)}, env);
        QString v = r.out.trimmed();
        if (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))
            v = v.mid(1, v.size() - 2);
        return v;
    }
};

// The stored value names a PNG of this size inside our wallpapers folder.
void ExpectPicture(const QString& value, const Home& home, QSize size) {
    const QString path =
        value.startsWith(QLatin1String("file:")) ? QUrl(value).toLocalFile() : value;
    EXPECT_TRUE(path.startsWith(home.Folder() + QLatin1Char('/'))) << path.toStdString();
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray("png")) << path.toStdString();
    EXPECT_EQ(reader.size(), size) << path.toStdString();
}

bool OnPrivateBus() {
    return qEnvironmentVariableIsSet("FACETTA_PRIVATE_BUS");
}

}  // namespace

TEST(DetectDesktop, FromEnvironmentThenBus) {
    const struct {
        const char* current;
        const char* session;
        QStringList bus;
        bool sway, x11;
        DesktopKind expected;
    } cases[] = {
        {"ubuntu:GNOME", "", {}, false, true, DesktopKind::Gnome},
        {"Budgie:GNOME", "", {}, false, false, DesktopKind::Gnome},
        {"Unity", "", {}, false, false, DesktopKind::Gnome},
        {"Pantheon", "", {}, false, false, DesktopKind::Gnome},
        {"X-Cinnamon", "", {}, false, false, DesktopKind::Cinnamon},
        {"MATE", "", {}, false, false, DesktopKind::Mate},
        {"KDE", "", {}, false, true, DesktopKind::Plasma},
        {"XFCE", "", {}, false, false, DesktopKind::Xfce},
        {"LXQt", "", {}, false, false, DesktopKind::Lxqt},
        {"sway", "", {}, true, false, DesktopKind::Sway},
        {"", "plasma", {}, false, false, DesktopKind::Plasma},
        {"", "", {QStringLiteral("org.kde.plasmashell")}, false, true, DesktopKind::Plasma},
        {"", "", {QStringLiteral("org.gnome.Shell")}, false, false, DesktopKind::Gnome},
        {"SomethingElse",
         "",
         {QStringLiteral("org.xfce.SessionManager")},
         false,
         false,
         DesktopKind::Xfce},
        {"", "", {}, true, true, DesktopKind::Sway},
        {"", "", {}, false, true, DesktopKind::X11},
        {"",
         "",
         {QStringLiteral("org.freedesktop.Notifications")},
         false,
         false,
         DesktopKind::None},
    };
    for (const auto& c : cases) {
        DesktopEnvironment env;
        env.currentDesktop = QLatin1String(c.current);
        env.sessionDesktop = QLatin1String(c.session);
        env.busNames = c.bus;
        env.bSwaySocket = c.sway;
        env.bX11Display = c.x11;
        EXPECT_EQ(DetectDesktop(env), c.expected) << c.current << " / " << c.session;
    }
}

TEST(Wallpaper, GnomeFamilyThroughGsettings) {
    for (const bool span : {false, true}) {
        Home home;
        const RunResult r =
            home.Cli(QStringLiteral("Budgie:GNOME"),
                     span ? QStringList{QStringLiteral("--span"), QStringLiteral("--width"),
                                        QStringLiteral("640"), QStringLiteral("--height"),
                                        QStringLiteral("300")}
                          : QStringList{QStringLiteral("--width"), QStringLiteral("800"),
                                        QStringLiteral("--height"), QStringLiteral("450")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String("GNOME"))) << r.out.toStdString();
        const QSize size = span ? QSize(640, 300) : QSize(800, 450);
        const QString uri = home.Gsettings("org.gnome.desktop.background", "picture-uri");
        ExpectPicture(uri, home, size);
        EXPECT_EQ(home.Gsettings("org.gnome.desktop.background", "picture-uri-dark"), uri);
        EXPECT_EQ(home.Gsettings("org.gnome.desktop.background", "picture-options"),
                  span ? QStringLiteral("spanned") : QStringLiteral("zoom"));
        EXPECT_TRUE(r.out.contains(QUrl(uri).toLocalFile())) << r.out.toStdString();
    }
}

TEST(Wallpaper, XfceEveryMonitorAndWorkspaceThroughXfconfd) {
    if (!OnPrivateBus()) GTEST_SKIP() << "needs the private session bus ctest gives it";
    Home home;
    // xfconfd is started by the bus on first use and keeps its channels under our home.
    QDBusMessage update = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    qDBusRegisterMetaType<QMap<QString, QString>>();
    update << QVariant::fromValue(QMap<QString, QString>{
        {QStringLiteral("XDG_CONFIG_HOME"), home.env.value(QStringLiteral("XDG_CONFIG_HOME"))}});
    ASSERT_NE(QDBusConnection::sessionBus().call(update).type(), QDBusMessage::ErrorMessage);

    const QStringList keys{QStringLiteral("/backdrop/screen0/monitorHDMI-1/workspace0/last-image"),
                           QStringLiteral("/backdrop/screen0/monitorHDMI-1/workspace1/last-image"),
                           QStringLiteral("/backdrop/screen0/monitoreDP-1/workspace0/last-image")};
    for (const QString& key : keys) {
        const RunResult set =
            RunProgram(QStringLiteral("xfconf-query"),
                       {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-p"),
                        key, QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("string"),
                        QStringLiteral("-s"), QStringLiteral("/old.png")},
                       home.env);
        ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
    }
    const RunResult r =
        home.Cli(QStringLiteral("XFCE"), {QStringLiteral("--width"), QStringLiteral("700"),
                                          QStringLiteral("--height"), QStringLiteral("500")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("Xfce"))) << r.out.toStdString();
    for (const QString& key : keys) {
        const auto get = [&](const QString& k) {
            return RunProgram(QStringLiteral("xfconf-query"),
                              {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"),
                               QStringLiteral("-p"), k},
                              home.env)
                .out.trimmed();
        };
        ExpectPicture(get(key), home, QSize(700, 500));
        EXPECT_EQ(
            get(QString(key).replace(QLatin1String("last-image"), QLatin1String("image-style"))),
            QStringLiteral("5"));
    }
}

// Stands in for the Plasma shell: takes the script and keeps it.
class FakePlasmaShell : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.PlasmaShell")
public:
    QStringList scripts;
public slots:
    void evaluateScript(const QString& script) { scripts << script; }
};

TEST(Wallpaper, PlasmaGetsAScriptForEveryDesktop) {
    if (!OnPrivateBus()) GTEST_SKIP() << "needs the private session bus ctest gives it";
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakePlasmaShell shell;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/PlasmaShell"), &shell,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.plasmashell")));
    Home home;
    // A path a careless script would break on.
    home.env.insert(QStringLiteral("XDG_DATA_HOME"),
                    home.dir.filePath(QStringLiteral("it's \"data\"")));
    const RunResult r =
        home.Cli(QStringLiteral("KDE"), {QStringLiteral("--width"), QStringLiteral("900"),
                                         QStringLiteral("--height"), QStringLiteral("400")});
    bus.unregisterService(QStringLiteral("org.kde.plasmashell"));
    bus.unregisterObject(QStringLiteral("/PlasmaShell"));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("KDE Plasma"))) << r.out.toStdString();
    ASSERT_EQ(shell.scripts.size(), 1);
    const QString& script = shell.scripts.first();
    EXPECT_TRUE(script.contains(QLatin1String("desktops()")));
    EXPECT_TRUE(script.contains(QLatin1String("d.writeConfig(\"Image\", image)")));
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("var image = \"((?:[^\"\\\\]|\\\\.)*)\";")).match(script);
    ASSERT_TRUE(m.hasMatch()) << script.toStdString();
    QString uri = m.captured(1);
    uri.replace(QLatin1String("\\\""), QLatin1String("\""))
        .replace(QLatin1String("\\\\"), QLatin1String("\\"));
    const QString path = QUrl(uri).toLocalFile();
    EXPECT_TRUE(path.contains(QLatin1String("it's \"data\"/facetta/wallpapers/")))
        << path.toStdString();
    EXPECT_EQ(QImageReader(path).size(), QSize(900, 400));
}

TEST(Wallpaper, FailuresSayWhatAndKeepThePicture) {
    const struct {
        const char* desktop;
        bool noBus;
        const char* found;    // the desktop the message names
        const char* failure;  // part of what failed
    } cases[] = {
        // Found, but its shell is not on the bus.
        {"KDE", false, "desktop found: KDE Plasma", "org.kde.plasmashell"},
        // Found, but no bus at all.
        {"XFCE", true, "desktop found: Xfce", "no session bus"},
        // Nothing to go on.
        {"", true, "desktop found: none", "no desktop was found"},
        // A desktop name we do not know and nothing else.
        {"Hyprland", true, "desktop found: none", "no desktop was found"},
    };
    for (const auto& c : cases) {
        if (!c.noBus && !OnPrivateBus()) continue;
        Home home;
        if (c.noBus)
            home.env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                            QStringLiteral("unix:path=/nonexistent/bus"));
        const RunResult r =
            home.Cli(QLatin1String(c.desktop), {QStringLiteral("--seed"), QStringLiteral("7")});
        EXPECT_EQ(r.exitCode, 2) << c.desktop;
        EXPECT_TRUE(r.err.contains(QLatin1String(c.found))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.failure))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String("to do: "))) << r.err.toStdString();
        ASSERT_EQ(home.Pictures().size(), 1) << c.desktop;
        const QString path = QDir(home.Folder()).filePath(home.Pictures().first());
        EXPECT_TRUE(r.err.contains(QStringLiteral("the picture is written: ") + path))
            << r.err.toStdString();
        EXPECT_EQ(QImageReader(path).size(), QSize(1920, 1080));
    }
}

TEST(Wallpaper, KeepsTheNewestTenAndAnyInUse) {
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < 14; ++i) {
        names << QStringLiteral("facetta-20260101-0000%1-000.png").arg(i, 2, 10, QLatin1Char('0'));
        QFile f(dir.filePath(names.last()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QFile other(dir.filePath(QStringLiteral("holiday.png")));  // not ours: never touched
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    PruneWallpapers(dir.path(), 10, {dir.filePath(names[1])});
    QStringList expected = names.mid(4);
    expected.prepend(names[1]);
    EXPECT_EQ(
        QDir(dir.path()).entryList({QStringLiteral("facetta-*.png")}, QDir::Files, QDir::Name),
        expected);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("holiday.png"))));
}

TEST(Wallpaper, RepeatedSettingKeepsTenPicturesAndTheOneShown) {
    Home home;
    for (int i = 0; i < 12; ++i) {
        const RunResult r =
            home.Cli(QStringLiteral("GNOME"), {QStringLiteral("--width"), QStringLiteral("300"),
                                               QStringLiteral("--height"), QStringLiteral("200")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    const QStringList pictures = home.Pictures();
    EXPECT_EQ(pictures.size(), 10);
    const QString shown =
        QUrl(home.Gsettings("org.gnome.desktop.background", "picture-uri")).toLocalFile();
    EXPECT_EQ(QDir(home.Folder()).filePath(pictures.last()), shown);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "wallpaper_test.moc"
