#include "facetta_app.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>

#include "commands.h"
#include "main_frame.h"
#include "picture_image.h"

namespace {
CFacettaApp* s_pTheApp = nullptr;
}

// The icons live in a static library: their registration is not pulled in by itself.
static void InitResources() { Q_INIT_RESOURCE(facetta); }

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

CFacettaApp* CFacettaApp::Instance() { return s_pTheApp; }

std::unique_ptr<QSettings> CFacettaApp::OpenSettings() const {
    return std::make_unique<QSettings>(m_strCompanyKey, QString::fromUtf8(kAppTitle));
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
