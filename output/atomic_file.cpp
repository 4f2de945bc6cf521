#include "atomic_file.h"

#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Named temporary files that exist right now, for the signal handler. A slot is taken (0 -> 2),
// filled, then published (2 -> 1); the handler only reads published ones.
struct TempSlot {
    std::atomic<int> state{0};
    int dirFd = -1;
    char name[64] = {};
};
constexpr int kSlots = 32;
TempSlot g_slots[kSlots];

constexpr int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP};

void RemoveTempFilesAndDie(int sig) {
    const int saved = errno;
    for (TempSlot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == 1) unlinkat(slot.dirFd, slot.name, 0);
    errno = saved;
    // SA_RESETHAND has put the default action back: the process ends by this signal as it
    // would have without us.
    raise(sig);
}

// Only where nobody else has a say: an ignored signal (nohup) stays ignored, and a program's
// own handler stays its own.
void InstallCleanupHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : kCleanupSignals) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0) continue;
            if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
            struct sigaction sa {};
            sa.sa_handler = RemoveTempFilesAndDie;
            sigemptyset(&sa.sa_mask);
            for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
            sa.sa_flags = SA_RESETHAND;
            sigaction(sig, &sa, nullptr);
        }
    });
}

// Holds the cleanup signals off while a name and its record change together.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kCleanupSignals) sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &m_old);
    }
    ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }

private:
    sigset_t m_old;
};

int TakeSlot(int dirFd, const QByteArray& name) {
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!g_slots[i].state.compare_exchange_strong(expected, 2)) continue;
        g_slots[i].dirFd = dirFd;
        std::snprintf(g_slots[i].name, sizeof g_slots[i].name, "%s", name.constData());
        g_slots[i].state.store(1, std::memory_order_release);
        return i;
    }
    return -1;  // more than kSlots writes at once: this one is not cleaned up on a signal
}

// Short, so that it fits any folder's name length limit whatever the target's name is.
QByteArray TempName(long nameMax) {
    uint32_t r = 0;
    if (getrandom(&r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        static std::atomic<uint32_t> counter{0};
        r = static_cast<uint32_t>(getpid()) * 2654435761u + counter.fetch_add(1) * 40503u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, ".facetta-%08x.tmp", r);
    QByteArray name(buf);
    if (nameMax > 0 && name.size() > nameMax)
        name = name.mid(9, qMax<long>(1, qMin<long>(8, nameMax)));
    return name;
}

bool SplitPath(const QByteArray& path, QByteArray& folder, QByteArray& name) {
    const qsizetype slash = path.lastIndexOf('/');
    folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    name = path.mid(slash + 1);
    return !name.isEmpty() && name != "." && name != "..";
}

// The kernel's rule for links in shared folders (fs.protected_symlinks): in a sticky
// world-writable folder, a link is followed only when it belongs to the follower or to the
// folder's owner.
bool IsProtectedLink(const QByteArray& link, const struct stat& linkStat) {
    QByteArray folder, name;
    SplitPath(link, folder, name);
    struct stat dir {};
    if (stat(folder.constData(), &dir) != 0) return false;
    const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return shared && linkStat.st_uid != geteuid() && linkStat.st_uid != dir.st_uid;
}

struct Resolved {
    int error = 0;
    WriteRefusal refusal = WriteRefusal::None;
    QByteArray path;  // the file to replace, links followed
    bool exists = false;
    mode_t mode = 0;
};

Resolved Resolve(const QString& path) {
    Resolved r;
    QByteArray p = QFile::encodeName(path);
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (lstat(p.constData(), &st) != 0) {
            r.error = errno == ENOENT ? 0 : errno;
            r.path = p;
            return r;
        }
        if (S_ISLNK(st.st_mode)) {
            if (hops >= 40) {
                r.error = ELOOP;
                return r;
            }
            if (IsProtectedLink(p, st)) {
                r.error = EACCES;
                r.refusal = WriteRefusal::ProtectedLink;
                return r;
            }
            char target[4096];
            const ssize_t n = readlink(p.constData(), target, sizeof target);
            if (n <= 0 || n == static_cast<ssize_t>(sizeof target)) {
                r.error = n < 0 ? errno : ENAMETOOLONG;
                return r;
            }
            QByteArray folder, name;
            SplitPath(p, folder, name);
            const QByteArray t(target, n);
            p = t.startsWith('/') ? t : folder + '/' + t;
            continue;
        }
        r.path = p;
        r.exists = true;
        r.mode = st.st_mode & 07777;
        if (S_ISDIR(st.st_mode)) {
            r.error = EISDIR;
            r.refusal = WriteRefusal::Folder;
        } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
            // Replacing it would swap the device for a regular file; writing into it could
            // block for ever.
            r.error = EINVAL;
            r.refusal = WriteRefusal::Device;
        } else if (S_ISFIFO(st.st_mode)) {
            r.error = EINVAL;
            r.refusal = WriteRefusal::Pipe;
        } else if (S_ISSOCK(st.st_mode)) {
            r.error = EINVAL;
            r.refusal = WriteRefusal::Socket;
        } else if (faccessat(AT_FDCWD, p.constData(), W_OK, AT_EACCESS) != 0) {
            // A file its owner made read-only is not replaced behind their back (EACCES), and
            // a read-only file system says so (EROFS).
            r.error = errno;
        }
        return r;
    }
}

// An unnamed file gets its name through /proc; without /proc it could never be put in place.
bool NoTmpfile() {
    const char* v = std::getenv("FACETTA_NO_O_TMPFILE");
    if (v && *v && std::strcmp(v, "0") != 0) return true;
    return access("/proc/self/fd", X_OK) != 0;
}

}  // namespace

AtomicFile::~AtomicFile() {
    Cancel();
}

WriteRefusal AtomicFile::Examine(const QString& path) {
    return Resolve(path).refusal;
}

int AtomicFile::Open(const QString& path, WriteRefusal* refusal) {
    Cancel();
    if (refusal) *refusal = WriteRefusal::None;
    const Resolved target = Resolve(path);
    if (refusal) *refusal = target.refusal;
    if (target.error) return target.error;
    QByteArray folder;
    if (!SplitPath(target.path, folder, m_name)) return EISDIR;
    m_keepMode = target.exists;
    m_mode = target.mode;
    InstallCleanupHandlers();

    m_dirFd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0) return errno;

    // An unnamed file first: nothing to clean up if the process dies before it is complete.
    if (!NoTmpfile()) {
        m_fd = openat(m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_anonymous = true;
            return 0;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            const int err = errno;
            Cancel();
            return err;
        }
    }
    const long nameMax = fpathconf(m_dirFd, _PC_NAME_MAX);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = TempName(nameMax);
        SignalBlock block;
        // The name is published before the file exists: a signal may reach another thread,
        // which the block here does not hold off.
        m_slot = TakeSlot(m_dirFd, name);
        m_fd = openat(m_dirFd, name.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempName = name;
            return 0;
        }
        const int err = errno;
        Unregister();
        if (err != EEXIST) {
            Cancel();
            return err;
        }
    }
    Cancel();
    return EEXIST;
}

int AtomicFile::Place() {
    if (m_keepMode && fchmod(m_fd, m_mode) != 0 && errno != EPERM) return errno;
    if (fsync(m_fd) != 0 && errno != EINVAL) return errno;
    if (m_anonymous) {
        // linkat cannot replace a file: give it a temporary name first, then rename.
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", m_fd);
        const long nameMax = fpathconf(m_dirFd, _PC_NAME_MAX);
        for (int attempt = 0;; ++attempt) {
            const QByteArray name = TempName(nameMax);
            SignalBlock block;
            m_slot = TakeSlot(m_dirFd, name);  // published first, as in Open
            if (linkat(AT_FDCWD, proc, m_dirFd, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
                m_tempName = name;
                break;
            }
            const int err = errno;
            Unregister();
            if (err != EEXIST || attempt >= 100) return err;
        }
    }
    SignalBlock block;
    if (renameat(m_dirFd, m_tempName.constData(), m_dirFd, m_name.constData()) != 0) return errno;
    m_tempName.clear();
    Unregister();
    return 0;
}

int AtomicFile::Commit() {
    if (m_fd < 0) return EBADF;
    const int err = Place();
    Cancel();
    return err;
}

void AtomicFile::Unregister() {
    if (m_slot >= 0) g_slots[m_slot].state.store(0, std::memory_order_release);
    m_slot = -1;
}

void AtomicFile::Cancel() {
    if (!m_tempName.isEmpty()) {
        SignalBlock block;
        unlinkat(m_dirFd, m_tempName.constData(), 0);
        m_tempName.clear();
        Unregister();
    }
    Unregister();
    if (m_fd >= 0) close(m_fd);
    if (m_dirFd >= 0) close(m_dirFd);
    m_fd = m_dirFd = -1;
    m_anonymous = false;
}
