#include "facetta_app.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLockFile>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clipboard_export.h"

#include "commands.h"
#include "main_frame.h"
#include "picture_memory.h"

namespace {
CFacettaApp* s_pTheApp = nullptr;
}

// The icons live in a static library: their registration is not pulled in by itself.
static void InitResources() {
    Q_INIT_RESOURCE(facetta);
}

CFacettaApp::CFacettaApp() : m_strCompanyKey(QStringLiteral("Quillmark")) {
    InitResources();
    m_fnShiftHeld = [] {
        return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    };
    s_pTheApp = this;
}

CFacettaApp::~CFacettaApp() {
    m_pMainFrame.reset();
    if (s_pTheApp == this) s_pTheApp = nullptr;
}

CFacettaApp* CFacettaApp::Instance() {
    return s_pTheApp;
}

std::unique_ptr<QSettings> CFacettaApp::OpenSettings() const {
    if (!m_strSettingsFallback.isEmpty())
        return std::make_unique<QSettings>(m_strSettingsFallback, QSettings::NativeFormat);
    return std::make_unique<QSettings>(m_strCompanyKey, QString::fromUtf8(kAppTitle));
}

QString CFacettaApp::SettingsFilePath() const {
    // A store of another name in the same place: opening it reads nothing that exists.
    const QSettings probe(m_strCompanyKey, QStringLiteral(".facetta-path-probe"));
    return QFileInfo(probe.fileName()).absolutePath() + QLatin1Char('/') +
           QString::fromUtf8(kAppTitle) + QStringLiteral(".conf");
}

namespace {

void Warn(const QString& text) {
    std::fprintf(stderr, "facetta: %s\n", text.toLocal8Bit().constData());
}

// What is wrong with the thing at `path`, or nothing when it is absent or a fitting file.
QString Oddity(const QString& path, qint64 maxBytes) {
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT) {
            struct stat link {};
            if (lstat(QFile::encodeName(path).constData(), &link) == 0)
                return QStringLiteral("a dangling link");
            return QString();
        }
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) return QStringLiteral("a folder");
    if (S_ISFIFO(st.st_mode)) return QStringLiteral("a named pipe");
    if (!S_ISREG(st.st_mode)) return QStringLiteral("not a regular file");
    if (maxBytes > 0 && st.st_size > maxBytes)
        return QStringLiteral("%1 bytes, larger than any real settings file").arg(st.st_size);
    return QString();
}

// Renamed out of the way, kept for a look; false when it stays where it is.
bool SetAside(const QString& path, const QString& why) {
    const QString aside = path + QStringLiteral(".bad-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) ==
        0) {
        Warn(QStringLiteral("\"%1\" is %2; set aside as \"%3\", default settings used")
                 .arg(path, why, aside));
        return true;
    }
    Warn(QStringLiteral(
             "\"%1\" is %2 and cannot be set aside (%3); default settings used for this run")
             .arg(path, why, QString::fromLocal8Bit(std::strerror(errno))));
    return false;
}

}  // namespace

void CFacettaApp::PrepareSettingsStore() {
    m_strSettingsFallback.clear();
    const QString strFile = SettingsFilePath();
    const QString strLock = strFile + QStringLiteral(".lock");
    bool bUsable = true;
    for (const QString& path : {strFile, strLock}) {
        const QString why = Oddity(path, path == strFile ? kMaxSettingsBytes : 0);
        if (!why.isEmpty() && !SetAside(path, why)) bUsable = false;
    }
    if (bUsable) {
        // QSettings waits for its lock until the lock is 30 s old when it cannot see who holds
        // it (an empty lock file, say). A writer holds it for milliseconds: one half a second
        // old is taken over here, and the lock is then free for QSettings. (The stale time is
        // well under the wait, so one of the waiting tries comes after it has passed.)
        QLockFile lock(strLock);
        lock.setStaleLockTime(500);
        if (lock.tryLock(1000)) lock.unlock();
    }
    if (!bUsable) {
        const QString folder = MakePrivateTempFolder();
        m_strSettingsFallback =
            folder.isEmpty() ? QString() : folder + QStringLiteral("/Facetta.conf");
        if (!m_strSettingsFallback.isEmpty()) QFile::remove(m_strSettingsFallback);
    }
}

void CFacettaApp::CheckSettingsVersion() {
    m_nVersion = kSettingsVersion;
    m_strCompanyKey = QStringLiteral("Quillmark");

    auto settings = OpenSettings();
    bool bOk = false;
    uint32_t nStored = settings->value(QStringLiteral("Version")).toUInt(&bOk);
    // A store that cannot be read counts as no version at all.
    if (!bOk || settings->status() != QSettings::NoError) nStored = 0;

    const bool bShift = m_fnShiftHeld && m_fnShiftHeld();
    if (bShift || nStored != m_nVersion) {
        settings->clear();
        settings->setValue(QStringLiteral("Version"), m_nVersion);
        settings->sync();
    }
}

bool CFacettaApp::InitInstance(const QStringList& arguments) {
    PrepareSettingsStore();
    CheckSettingsVersion();
    ConfigurePictureMemoryLimit();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/facetta.svg")));

    m_pMainFrame = std::make_unique<CMainFrame>(*this);

    // The first argument that is not an option names a document; nothing is read from it.
    QString strFile;
    for (const QString& arg : arguments) {
        if (!arg.startsWith(QLatin1Char('-'))) {
            strFile = arg;
            break;
        }
    }
    // Shown first: the tab area only activates windows while it is visible.
    m_pMainFrame->show();
    if (strFile.isEmpty())
        m_pMainFrame->OnFileNew();
    else
        m_pMainFrame->OpenDocument(QFileInfo(strFile).fileName());
    return true;
}
