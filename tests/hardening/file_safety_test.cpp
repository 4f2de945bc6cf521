// Writing into places that refuse: a full disk, a read-only file system, an immutable file,
// a folder in the file's place and a device node. Every refusal is a clear error, the file
// that was there stays byte for byte, and no temporary file is left behind. Checked for the
// writer itself (all four formats) and end to end through facetta-cli.
//
// Root ignores permission bits, so the refusals are made by the kernel instead: small tmpfs
// mounts (full, or remounted read-only) and the immutable attribute. Where this process may
// not mount or set attributes, the case is skipped with the reason.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "picture_writer.h"
#include "process_runner.h"
#include "scratch_mount.h"

extern char** environ;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Noise does not compress: every format needs far more than the full disk has left.
Picture NoisePicture() {
    Picture p = Picture::Create(300, 300);
    uint32_t x = 12345;
    for (size_t i = 0; i < p.PixelCount(); ++i) {
        x = x * 1664525u + 1013904223u;
        p.Pixels()[i] = 0xFF000000u | (x >> 8);
    }
    return p;
}

constexpr ImageEncoderId kAllFormats[] = {ImageEncoderId::Png, ImageEncoderId::Jpeg,
                                          ImageEncoderId::Gif, ImageEncoderId::Bmp};

std::string Name(ImageEncoderId id) {
    return MimeTypeOfEncoder(id).toStdString();
}

class RefusingTarget : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.filePath("target");
        ASSERT_TRUE(QDir().mkpath(m_folder));
    }
    void TearDown() override {
        if (!m_immutable.isEmpty()) SetImmutable(m_immutable, false);
    }

    static bool SetImmutable(const QString& path, bool on) {
        const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        close(fd);
        return ok;
    }

    // The file that must survive, and a snapshot of the folder to compare with.
    void PutExistingFile(int bytes = 4096) {
        m_existing = QDir(m_folder).filePath("keep.png");
        QFile f(m_existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray content(bytes, 'k');
        content.prepend("old picture that must survive ");
        ASSERT_EQ(f.write(content), content.size());
        f.close();
        m_before = ReadAll(m_existing);
        m_listing = Listing();
    }
    QStringList Listing() const {
        return QDir(m_folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    void ExpectUntouched() const {
        EXPECT_EQ(ReadAll(m_existing), m_before) << "the existing file changed";
        EXPECT_EQ(Listing(), m_listing) << "a file appeared or vanished";
    }

    // Every format straight through the writer, then the command-line program; both onto the
    // existing file and onto a new name beside it. `alsoAccepted`: an errno that says the same.
    void ExpectEveryWriteRefused(int expectedErrno, int alsoAccepted = 0) {
        const Picture picture = NoisePicture();
        for (ImageEncoderId id : kAllFormats) {
            for (const QString& path : {m_existing, QDir(m_folder).filePath("new.png")}) {
                int err = 0;
                EXPECT_EQ(WritePicture(picture, path, id, 100, &err), Status::Win32Error)
                    << Name(id);
                EXPECT_TRUE(err == expectedErrno || (alsoAccepted && err == alsoAccepted))
                    << Name(id) << " " << std::strerror(err);
                ExpectUntouched();
            }
        }
        for (const char* name : {"keep.png", "new.jpg", "new.gif", "new.bmp"}) {
            const std::string path = QFile::encodeName(QDir(m_folder).filePath(name)).toStdString();
            const ProcessResult r = RunProcess(
                {FACETTA_CLI, "--width", "1200", "--height", "800", "--seed", "3", "-o", path});
            ASSERT_TRUE(r.started);
            EXPECT_EQ(r.signal, 0) << r.out;
            EXPECT_EQ(r.exitCode, 2) << r.out;
            EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
            EXPECT_TRUE(
                r.out.find(std::strerror(expectedErrno)) != std::string::npos ||
                (alsoAccepted && r.out.find(std::strerror(alsoAccepted)) != std::string::npos))
                << r.out;
            ExpectUntouched();
        }
    }

    QTemporaryDir m_dir;
    QString m_folder;
    QString m_existing;
    QString m_immutable;
    QByteArray m_before;
    QStringList m_listing;
    ScratchMount m_mount;
};

TEST_F(RefusingTarget, FullDisk) {
    if (!m_mount.Mount(m_folder, "32k")) GTEST_SKIP() << m_mount.Why();
    PutExistingFile();
    ExpectEveryWriteRefused(ENOSPC);
}

TEST_F(RefusingTarget, ReadOnlyFileSystem) {
    if (!m_mount.Mount(m_folder, "1m")) GTEST_SKIP() << m_mount.Why();
    PutExistingFile();
    if (!m_mount.RemountReadOnly()) GTEST_SKIP() << m_mount.Why();
    // Said as it is: the file system is read-only (not "permission denied").
    ExpectEveryWriteRefused(EROFS);
}

// The immutable attribute holds even against root; permission bits alone would not.
TEST_F(RefusingTarget, ImmutableExistingFile) {
    PutExistingFile();
    if (!SetImmutable(m_existing, true)) GTEST_SKIP() << "cannot set the immutable attribute here";
    m_immutable = m_existing;
    const Picture picture = NoisePicture();
    for (ImageEncoderId id : kAllFormats) {
        int err = 0;
        EXPECT_EQ(WritePicture(picture, m_existing, id, 100, &err), Status::Win32Error) << Name(id);
        EXPECT_NE(err, 0) << Name(id);
        ExpectUntouched();
    }
    const ProcessResult r = RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed",
                                        "3", "-o", QFile::encodeName(m_existing).toStdString()});
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
    ExpectUntouched();
}

// A name that exists read-only. Permission bits do not bind root, so the program runs as an
// ordinary user ("nobody") over a root-owned read-only file in a folder that user may write
// to: replacing the file through the folder would be possible, and must not happen.
TEST_F(RefusingTarget, ReadOnlyExistingFileOfAnotherUser) {
    PutExistingFile();
    const QByteArray file = QFile::encodeName(m_existing);
    ASSERT_EQ(chmod(file.constData(), 0444), 0);
    ASSERT_EQ(chmod(QFile::encodeName(m_folder).constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    const std::vector<std::string> args = {FACETTA_CLI, "--width", "400", "--height",        "300",
                                           "--seed",    "3",       "-o",  file.toStdString()};
    ProcessResult r;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run as";
        r = RunProcessAs(nobody->pw_uid, nobody->pw_gid, args);
        if (r.exitCode == 126 || r.exitCode == 127)
            GTEST_SKIP() << "cannot run facetta-cli as nobody here";
    } else {
        r = RunProcess(args);
    }
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::strerror(EACCES)), std::string::npos) << r.out;
    ExpectUntouched();
}

TEST_F(RefusingTarget, FolderInTheFilesPlace) {
    PutExistingFile();
    ASSERT_TRUE(QDir(m_folder).mkdir("shot.png"));
    m_listing = Listing();
    const ProcessResult r =
        RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed", "3", "-o",
                    QFile::encodeName(QDir(m_folder).filePath("shot.png")).toStdString()});
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find(std::strerror(EISDIR)), std::string::npos) << r.out;
    EXPECT_TRUE(QDir(QDir(m_folder).filePath("shot.png")).isEmpty());
    ExpectUntouched();
}

// A device node (a copy of /dev/full made here) or a named pipe in the file's place is refused:
// the atomic replace would swap it for a regular file, and a pipe without a reader would block.
TEST_F(RefusingTarget, SpecialFileIsRefusedAndKept) {
    PutExistingFile();
    const QString node = QDir(m_folder).filePath("full.png");
    const QString fifo = QDir(m_folder).filePath("pipe.png");
    if (mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0666), 0) << std::strerror(errno);
    m_listing = Listing();
    const Picture picture = NoisePicture();
    for (const QString& path : {node, fifo}) {
        for (ImageEncoderId id : kAllFormats) {
            int err = 0;
            EXPECT_EQ(WritePicture(picture, path, id, 100, &err), Status::Win32Error) << Name(id);
            EXPECT_EQ(err, EINVAL) << Name(id) << " " << std::strerror(err);
            ExpectUntouched();
        }
        const ProcessResult r =
            RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed", "3", "-o",
                        QFile::encodeName(path).toStdString()});
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(path == node ? "a device is in the file's place"
                                          : "a named pipe is in the file's place"),
                  std::string::npos)
            << r.out;
        ExpectUntouched();
    }
    // The same node as a background picture is named for what it is.
    const ProcessResult back =
        RunProcess({FACETTA_CLI, "--back-image", QFile::encodeName(node).toStdString(), "-o",
                    QFile::encodeName(QDir(m_folder).filePath("b.png")).toStdString()});
    EXPECT_EQ(back.exitCode, 2) << back.out;
    EXPECT_NE(back.out.find("is a device, not a file"), std::string::npos) << back.out;
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(node).constData(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// GIF and JPEG record sizes in 16 bits (libjpeg stops at 65500): a larger picture is refused
// before any rendering, so the refusal is quick and small, and says why.
TEST(FormatSizeLimit, RefusedBeforeRenderingWithTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* width;
        const char* height;
        const char* name;
        const char* reason;
    };
    const Case cases[] = {
        {"65536", "4000", "wide.gif", "GIF pictures can be at most 65535 pixels"},
        {"300", "65501", "tall.jpg", "JPEG pictures can be at most 65500 pixels"},
    };
    // Measured against a small picture's call: a sanitizer build alone takes hundreds of MB.
    const ProcessResult baseline =
        RunProcess({FACETTA_CLI, "-o", QFile::encodeName(dir.filePath("small.gif")).toStdString()});
    ASSERT_EQ(baseline.exitCode, 0) << baseline.out;
    for (const Case& c : cases) {
        const ProcessResult r =
            RunProcess({FACETTA_CLI, "--width", c.width, "--height", c.height, "-o",
                        QFile::encodeName(dir.filePath(c.name)).toStdString()});
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_NE(r.out.find(c.reason), std::string::npos) << r.out;
        // The refused picture alone would be 1 GB (GIF) or 79 MB (JPEG), plus its mesh.
        EXPECT_LT(r.maxRssKiB - baseline.maxRssKiB, 48 * 1024)
            << "the picture was made before the refusal";
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(c.name)));
    }
    // The writer itself (the program's Save) refuses before encoding, whatever the caller.
    const Picture wide = Picture::Create(65536, 2);
    ASSERT_FALSE(wide.IsNull());
    int err = -1;
    EXPECT_EQ(WritePicture(wide, dir.filePath("w.gif"), ImageEncoderId::Gif, 90, &err),
              Status::ValueOverflow);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(WritePicture(wide, dir.filePath("w.png"), ImageEncoderId::Png, 90, &err), Status::Ok);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("w.gif")));
}

// Links in a shared folder (sticky, world-writable, like /tmp). The kernel follows such a link
// only for its owner or the folder's owner; the writer keeps the same rule although it
// resolves links itself. Crafted as root: a link owned by "nobody" stands for another user's.
class SharedFolderLinks : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to make another user's link";
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) GTEST_SKIP() << "no user \"nobody\"";
        m_other = nobody->pw_uid;
        ASSERT_TRUE(m_dir.isValid());
        m_shared = m_dir.filePath("shared");
        ASSERT_TRUE(QDir().mkdir(m_shared));
        ASSERT_EQ(chmod(QFile::encodeName(m_shared).constData(), 01777), 0);
        m_victim = m_dir.filePath("victim.png");
        QFile f(m_victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the other user's file");
    }
    QString Link(const char* name, const QString& target, uid_t owner) {
        const QString link = QDir(m_shared).filePath(name);
        EXPECT_EQ(
            symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
        EXPECT_EQ(lchown(QFile::encodeName(link).constData(), owner, static_cast<gid_t>(-1)), 0);
        return link;
    }

    QTemporaryDir m_dir;
    QString m_shared;
    QString m_victim;
    uid_t m_other = 0;
};

TEST_F(SharedFolderLinks, AnotherUsersLinkIsRefusedDanglingOrNot) {
    const QString dangling = m_dir.filePath("planted.png");
    const QString toVictim = Link("out.png", m_victim, m_other);
    const QString toNowhere = Link("new.png", dangling, m_other);
    const Picture picture = NoisePicture();
    for (const QString& link : {toVictim, toNowhere}) {
        for (ImageEncoderId id : kAllFormats) {
            int err = 0;
            EXPECT_EQ(WritePicture(picture, link, id, 90, &err), Status::Win32Error) << Name(id);
            EXPECT_EQ(err, EACCES) << Name(id);
        }
        const ProcessResult r =
            RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed", "3", "-o",
                        QFile::encodeName(link).toStdString()});
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_NE(r.out.find("another user's link in a shared folder"), std::string::npos) << r.out;
        EXPECT_TRUE(QFileInfo(link).isSymLink());
    }
    EXPECT_EQ(ReadAll(m_victim), "the other user's file");
    EXPECT_FALSE(QFileInfo::exists(dangling));
    EXPECT_EQ(QDir(m_shared)
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                  .size(),
              2);
}

// Our own links, the folder owner's links and links outside shared folders are written through.
TEST_F(SharedFolderLinks, OtherLinksAreWrittenThrough) {
    const QString ours = Link("ours.png", m_victim, 0);
    const Picture picture = NoisePicture();
    ASSERT_EQ(WritePicture(picture, ours, ImageEncoderId::Png, 90, nullptr), Status::Ok);
    EXPECT_TRUE(QFileInfo(ours).isSymLink());
    EXPECT_TRUE(ReadAll(m_victim).startsWith("\x89PNG"));

    // Another user's link in a folder that is not shared: followed as the kernel would.
    const QString plain = m_dir.filePath("plain");
    ASSERT_TRUE(QDir().mkdir(plain));
    const QString target = m_dir.filePath("target.bmp");
    const QString link = QDir(plain).filePath("theirs.bmp");
    ASSERT_EQ(symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
    ASSERT_EQ(lchown(QFile::encodeName(link).constData(), m_other, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(WritePicture(picture, link, ImageEncoderId::Bmp, 90, nullptr), Status::Ok);
    EXPECT_TRUE(ReadAll(target).startsWith("BM"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// Names up to the folder's limit (255 bytes here) can be replaced: the temporary name does not
// grow with the target's. With and without unnamed temporary files.
TEST(LongFileNames, ReplaceableUpToTheNameLimit) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const long nameMax = pathconf(QFile::encodeName(dir.path()).constData(), _PC_NAME_MAX);
    ASSERT_GE(nameMax, 255);
    for (const char* noTmpfile : {"0", "1"}) {
        for (int length : {249, 252, 255}) {
            const std::string name = std::string(static_cast<size_t>(length) - 4, 'n') + ".png";
            const std::string path = QFile::encodeName(dir.path()).toStdString() + "/" + name;
            for (const char* seed : {"1", "2"}) {
                const ProcessResult r = RunProcess(
                    {FACETTA_CLI, "--width", "300", "--height", "200", "--seed", seed, "-o", path},
                    {std::string("FACETTA_NO_O_TMPFILE=") + noTmpfile});
                EXPECT_EQ(r.exitCode, 0) << length << " bytes: " << r.out;
            }
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << length;
            QFile::remove(QFile::decodeName(path.c_str()));
        }
    }
}

// SIGTERM, SIGINT or SIGHUP in the middle of a write leave no partial temporary file, on file
// systems without unnamed temporary files too (forced here), and end the program by that signal.
TEST(SignalsDuringAWrite, LeaveNoTemporaryFile) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string out = QFile::encodeName(dir.filePath("big.gif")).toStdString();
        std::vector<std::string> argStore = {FACETTA_CLI, "--width", "3840", "--height",
                                             "2160",      "--seed",  "9",    "--count",
                                             "20",        "-o",      out};
        std::vector<char*> args;
        for (std::string& a : argStore) args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
        envStore.emplace_back("FACETTA_NO_O_TMPFILE=1");
        std::vector<char*> envp;
        for (std::string& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        // Default actions in the child, whatever this process inherited (a background job
        // ignores SIGINT).
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, s);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, args[0], &actions, &attr, args.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);

        // Wait for a temporary file to appear, then signal the writer while it is there.
        bool seen = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!seen && std::chrono::steady_clock::now() < deadline) {
            for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
                if (name.endsWith(QStringLiteral(".tmp"))) seen = true;
            if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(seen) << "no temporary file was ever seen";
        kill(pid, sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            EXPECT_FALSE(name.endsWith(QStringLiteral(".tmp"))) << name.toStdString();
    }
}

}  // namespace
