#pragma once
// A small tmpfs mounted over a folder for one test: a disk that fills up at a known size, or
// that turns read-only, which even root cannot write past. Unmounted when it goes.
#include <QFile>
#include <QString>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

class ScratchMount {
public:
    ScratchMount() = default;
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    ~ScratchMount() {
        if (m_mounted) umount2(m_folder.constData(), MNT_DETACH);
    }

    // False, with Why() saying so, when this process may not mount (not root, no
    // CAP_SYS_ADMIN, a container that forbids it).
    bool Mount(const QString& folder, const char* size) {
        m_folder = QFile::encodeName(folder);
        const std::string options = std::string("size=") + size + ",mode=0777";
        if (mount("tmpfs", m_folder.constData(), "tmpfs", 0, options.c_str()) != 0) {
            m_why = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return false;
        }
        m_mounted = true;
        return true;
    }
    bool RemountReadOnly() {
        if (mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            m_why = std::string("cannot remount read-only: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string& Why() const { return m_why; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
    std::string m_why;
};
