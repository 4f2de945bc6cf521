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
#include <QTemporaryDir>

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "picture_writer.h"
#include "process_runner.h"
#include "scratch_mount.h"

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

constexpr ImageEncoderId kAllFormats[] = {ImageEncoderId::Png, ImageEncoderId::Jpeg, ImageEncoderId::Gif,
                                          ImageEncoderId::Bmp};

std::string Name(ImageEncoderId id) { return MimeTypeOfEncoder(id).toStdString(); }

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
        return QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                        QDir::Name);
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
                EXPECT_EQ(WritePicture(picture, path, id, 100, &err), Status::Win32Error) << Name(id);
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
            EXPECT_TRUE(r.out.find(std::strerror(expectedErrno)) != std::string::npos ||
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
    // Replacing the existing file is refused up front as not writable.
    ExpectEveryWriteRefused(EROFS, EACCES);
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
    const ProcessResult r = RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed", "3", "-o",
                                        QFile::encodeName(m_existing).toStdString()});
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
    const std::vector<std::string> args = {FACETTA_CLI, "--width", "400", "--height", "300",
                                           "--seed", "3", "-o", file.toStdString()};
    ProcessResult r;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run as";
        r = RunProcessAs(nobody->pw_uid, nobody->pw_gid, args);
        if (r.exitCode == 126 || r.exitCode == 127) GTEST_SKIP() << "cannot run facetta-cli as nobody here";
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
    const ProcessResult r = RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed", "3", "-o",
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
        const ProcessResult r = RunProcess({FACETTA_CLI, "--width", "400", "--height", "300", "--seed", "3",
                                            "-o", QFile::encodeName(path).toStdString()});
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
        ExpectUntouched();
    }
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(node).constData(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
