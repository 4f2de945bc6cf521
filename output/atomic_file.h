#pragma once
// Replacing a file all at once: the bytes go to a temporary file in the target's folder, which
// takes the target's name only when complete. Until then the old file stays as it was, and a
// failure, SIGTERM, SIGINT or SIGHUP leaves no temporary file behind.
#include <QString>

#include <sys/types.h>

// Why a path cannot be written, beyond the errno.
enum class WriteRefusal {
    None,
    ProtectedLink,  // another user's link in a sticky world-writable folder
    Device,         // a character or block device in the file's place
    Pipe,           // a named pipe
    Socket,         // a socket
    Folder,         // a folder
};

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();  // an uncommitted file is dropped

    // Prepares the replacement of `path` (links are followed, except those the kernel would
    // not follow either: another user's link in a sticky world-writable folder). Returns 0 or
    // an errno; `refusal` says what was found in the way.
    int Open(const QString& path, WriteRefusal* refusal = nullptr);
    int Descriptor() const { return m_fd; }
    // Puts the file in place; 0 or an errno. The file is dropped either way on failure.
    int Commit();
    void Cancel();

    // What Open would refuse at `path`, without touching anything (for messages).
    static WriteRefusal Examine(const QString& path);

private:
    int Place();
    void Unregister();

    int m_fd = -1;
    int m_dirFd = -1;
    int m_slot = -1;           // the signal handler's record of a named temporary file
    bool m_anonymous = false;  // O_TMPFILE: nothing to remove until it gets a name
    bool m_keepMode = false;
    mode_t m_mode = 0;
    QByteArray m_name;  // the target's name inside its folder
    QByteArray m_tempName;
};
