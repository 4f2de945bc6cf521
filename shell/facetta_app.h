#pragma once
// The one application object: tidies the settings at start, opens the main window and the
// first preview window.
#include <QSettings>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class CMainFrame;

// The maker's web site, opened from the Help menu and the About box; a build setting
// (FACETTA_MAKER_WEBSITE) so a packager can give the real one.
#ifndef FACETTA_MAKER_WEBSITE
#error "FACETTA_MAKER_WEBSITE is set by the build"
#endif
inline constexpr const char kMakerWebsite[] = FACETTA_MAKER_WEBSITE;

class CFacettaApp {
public:
    CFacettaApp();
    ~CFacettaApp();
    CFacettaApp(const CFacettaApp&) = delete;
    CFacettaApp& operator=(const CFacettaApp&) = delete;

    // The live application object, or nullptr before one is made.
    static CFacettaApp* Instance();

    // Start-up: settings check, main window, command line (arguments without the program
    // name). False ends the process.
    bool InitInstance(const QStringList& arguments);

    // Clears every saved setting and writes the version back when the stored version differs,
    // cannot be read, or a Shift key is held.
    void CheckSettingsVersion();

    // The application's settings store (the "Quillmark"/"Facetta" key).
    std::unique_ptr<QSettings> OpenSettings() const;

    // Makes the store safe to open before anything reads it: a settings file or lock that is
    // not a regular file (a folder, a pipe), or a settings file larger than any real one, is
    // set aside (renamed "<name>.bad-<time>") with a warning on stderr, and a lock nobody
    // holds is cleared within a second. When something cannot be set aside, this run keeps
    // its settings in a private file instead and starts from the defaults.
    void PrepareSettingsStore();
    // Where QSettings keeps the store, found without reading it.
    QString SettingsFilePath() const;
    static constexpr qint64 kMaxSettingsBytes = 1 << 20;

    CMainFrame* GetMainFrame() const { return m_pMainFrame.get(); }

    uint32_t m_nLook = 216;
    uint32_t m_nVersion = 0;
    QString m_strCompanyKey;

    // Whether a Shift key is down at start; a seam so tests need no keyboard.
    std::function<bool()> m_fnShiftHeld;

    static constexpr uint32_t kSettingsVersion = 20170326;

private:
    std::unique_ptr<CMainFrame> m_pMainFrame;
    QString m_strSettingsFallback;  // set when the real store cannot be used this run
};
