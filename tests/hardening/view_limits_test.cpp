// Sizes up to the 32-bit limit handed to a preview window, as the settings pane hands them:
// the window ends with no picture (white area), saving says so in the program's message, and
// nothing large is built on the way; a sensible size afterwards brings the picture back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bomb_files.h"
#include "facetta_doc.h"
#include "facetta_view.h"
#include "memory_budget.h"
#include "scratch_mount.h"

namespace {

// Resident memory of this process in KiB: now, or its peak since ResetPeakMemory().
long MemoryKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}
bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

class ViewLimits : public ::testing::Test {
protected:
    void SetUp() override {
        CFacettaView::s_fnMessageBox = [this](QWidget*, QMessageBox::Icon, const QString&,
                                              const QString& text) { m_messages.push_back(text); };
        CFacettaView::s_fnSaveDialog = [this](QWidget*, const QString&, const QString&,
                                              const QStringList&) { return m_saveChoice; };
        m_view = std::make_unique<CFacettaView>(&m_doc);
        m_view->resize(640, 480);
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void TearDown() override {
        m_view.reset();
        CFacettaView::s_fnMessageBox = nullptr;
        CFacettaView::s_fnSaveDialog = nullptr;
    }
    void Apply(int32_t width, int32_t height, int32_t polySize) {
        ImageSettings s = m_view->m_settings;
        s.nWidth = width;
        s.nHeight = height;
        s.nPolySize = polySize;
        m_view->ApplySettings(&s);
    }

    CFacettaDoc m_doc;
    std::unique_ptr<CFacettaView> m_view;
    std::vector<QString> m_messages;
    QString m_saveChoice;
};

TEST_F(ViewLimits, HugeSizesEndWithNoPictureAndASaveError) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    m_saveChoice = dir.filePath("huge.png");
    const bool canMeasure = ResetPeakMemory() && MemoryKiB("VmHWM:") > 0;

    const int32_t sides[] = {INT32_MAX, 1000000, 65536};
    for (int32_t w : sides) {
        for (int32_t h : {INT32_MAX, 200, 1000000}) {
            for (int32_t poly : {0, 50, 200}) {  // what the pane offers
                SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " cell " +
                             std::to_string(poly));
                if (Picture::Fits(w, h)) continue;  // only sizes no machine here can hold
                Apply(800, 600, 0);
                ASSERT_TRUE(m_view->m_pPicture && !m_view->m_pPicture->IsNull());
                m_messages.clear();

                const long before = MemoryKiB("VmRSS:");
                if (canMeasure) ResetPeakMemory();
                const auto start = std::chrono::steady_clock::now();
                Apply(w, h, poly);
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start);
                const long peak = MemoryKiB("VmHWM:");
                // For the record only, never asserted.
                std::printf("  %10d x %10d cell %3d: %4lld ms, +%ld KiB\n", w, h, poly,
                            static_cast<long long>(ms.count()), peak - before);

                ASSERT_TRUE(m_view->m_pPicture);
                EXPECT_TRUE(m_view->m_pPicture->IsNull());
                EXPECT_TRUE(m_messages.empty());
                // Nothing large was built for a picture that cannot exist (its mesh alone
                // can take gigabytes).
                if (canMeasure) {
                    EXPECT_LT(peak - before, 256 * 1024);
                }
                // The display stays within an int whatever the zoom.
                for (float zoom : {-1.0f, 0.5f, 4.0f}) {
                    m_view->m_fZoom = zoom;
                    m_view->UpdateScrollSizes(true);
                    EXPECT_GE(m_view->m_nDisplayWidth, 0);
                    EXPECT_GE(m_view->m_nDisplayHeight, 0);
                }
                m_view->m_fZoom = -1.0f;
                QApplication::processEvents();  // paints the white area

                m_view->OnSavePicture();
                ASSERT_EQ(m_messages.size(), 1u);
                EXPECT_TRUE(m_messages[0].startsWith(QStringLiteral("保存图片错误，错误代码：")))
                    << m_messages[0].toStdString();
                EXPECT_TRUE(QDir(dir.path()).isEmpty());
            }
        }
    }
    Apply(800, 600, 0);
    ASSERT_TRUE(m_view->m_pPicture && !m_view->m_pPicture->IsNull());
    EXPECT_EQ(m_view->m_pPicture->Width(), 800);
}

// A background picture that declares an enormous size leaves the window without one, and
// its picture made as if none had been named; nothing is reported.
TEST_F(ViewLimits, BombAsBackgroundPictureIsDropped) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        QByteArray bytes;
    } bombs[] = {
        {"bomb.png", PngDeclaring(100000, 100000)},
        {"bomb.gif", GifDeclaring(65535, 65535, 65535, 65535)},
        {"bomb.jpg", JpegDeclaring(65535, 65535)},
    };
    Apply(640, 400, 0);
    for (const auto& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        const QString path = dir.filePath(QString::fromLatin1(bomb.name));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bomb.bytes);
        f.close();
        ImageSettings s = m_view->m_settings;
        s.SetBackImagePath(path.toStdU16String());
        m_view->ApplySettings(&s);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_view->IsLoadingBackground(); }, 20000));
        EXPECT_FALSE(m_view->m_pBackImage);
        ASSERT_TRUE(m_view->m_pPicture);
        EXPECT_FALSE(m_view->m_pPicture->IsNull());
        EXPECT_EQ(m_view->m_pPicture->Width(), 640);
    }
    EXPECT_TRUE(m_messages.empty());
}

// Background pictures are decoded off the interface thread: ApplySettings returns at once and
// the picture follows through the event loop. One refused for its size says so ("内存不足。")
// and the window goes on without it; a picture decoded reduced for a small frame is decoded
// again when the frame grows; a save asked for meanwhile waits for the picture.
TEST_F(ViewLimits, BackgroundPicturesDecodeOffTheInterfaceThread) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto write = [&dir](const char* name, const QByteArray& bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    };
    auto setBackground = [this](const QString& path, int32_t width, int32_t height) {
        ImageSettings s = m_view->m_settings;
        s.nWidth = width;
        s.nHeight = height;
        s.SetBackImagePath(path.toStdU16String());
        m_view->ApplySettings(&s);
    };
    auto waitForLoad = [this] {
        return QTest::qWaitFor([this] { return !m_view->IsLoadingBackground(); }, 20000);
    };
    Apply(800, 600, 0);

    // Far beyond what an SVG may inflate to.
    setBackground(write("bomb.svgz", SvgzInflatingTo(qint64{128} << 20)), 800, 600);
    EXPECT_TRUE(m_view->IsLoadingBackground());
    ASSERT_TRUE(waitForLoad());
    EXPECT_FALSE(m_view->m_pBackImage);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], QStringLiteral("内存不足。"));
    ASSERT_TRUE(m_view->m_pPicture && !m_view->m_pPicture->IsNull());
    m_messages.clear();

    // Green, 2000 x 1500: for an 800 x 600 frame decoded at 800 x 600, then whole at 2000 x 1500.
    QImage green(2000, 1500, QImage::Format_RGB32);
    green.fill(0xFF00C000);
    const QString large = write("large.jpg", EncodeImage(green, "jpeg"));
    setBackground(large, 800, 600);
    EXPECT_TRUE(m_view->IsLoadingBackground());
    ASSERT_TRUE(waitForLoad());
    ASSERT_TRUE(m_view->m_pBackImage);
    EXPECT_EQ(m_view->m_pBackImage->Width(), 800);
    EXPECT_GT(qGreen(m_view->m_pPicture->Pixel(400, 300)), 100);  // drawn in once it was there
    setBackground(large, 2400, 1500);
    ASSERT_TRUE(waitForLoad());
    ASSERT_TRUE(m_view->m_pBackImage);
    EXPECT_EQ(m_view->m_pBackImage->Width(), 2000);
    EXPECT_EQ(m_view->m_pPicture->Width(), 2400);

    // The frame grows while it decodes: decoded again for the frame it ends with.
    setBackground(large, 700, 500);
    ASSERT_TRUE(waitForLoad());
    setBackground(QString(), 700, 500);
    setBackground(large, 640, 480);
    setBackground(large, 1600, 1200);
    ASSERT_TRUE(waitForLoad());
    ASSERT_TRUE(m_view->m_pBackImage);
    EXPECT_EQ(m_view->m_pBackImage->Width(), 1600);

    // Saved right after the path is set: the file has the picture.
    const QString red = write("red.png", EncodeImage(
                                             [] {
                                                 QImage i(64, 64, QImage::Format_RGB32);
                                                 i.fill(0xFFD00000);
                                                 return i;
                                             }(),
                                             "png"));
    m_saveChoice = dir.filePath("saved.png");
    setBackground(red, 640, 480);
    m_view->OnSavePicture();
    const QImage saved(m_saveChoice);
    ASSERT_FALSE(saved.isNull());
    EXPECT_GT(qRed(saved.pixel(320, 240)), 100);
    EXPECT_TRUE(m_messages.empty());
}

// Two windows and a copy share one budget: what does not fit is refused with the program's
// message, and what was there stays.
TEST_F(ViewLimits, WindowsAndCopiesShareOneMemoryBudget) {
    const size_t saved = MemoryBudget::Limit();
    Apply(640, 480, 0);
    const size_t picture = size_t{2000} * 1500 * 4;
    // Room for two pictures of 2000 x 1500 and their meshes, not for a copy besides.
    MemoryBudget::SetLimit(MemoryBudget::InUse() - m_view->m_pPicture->ByteCount() + 2 * picture +
                           (4 << 20));
    Apply(2000, 1500, 0);
    ASSERT_TRUE(m_view->m_pPicture && !m_view->m_pPicture->IsNull());
    CFacettaDoc otherDoc;
    CFacettaView other(&otherDoc);
    ImageSettings s = other.m_settings;
    s.nWidth = 2000;
    s.nHeight = 1500;
    other.ApplySettings(&s);
    ASSERT_TRUE(other.m_pPicture && !other.m_pPicture->IsNull());

    other.OnCopyPicture();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], QStringLiteral("内存不足。"));
    EXPECT_TRUE(other.m_pPicture && !other.m_pPicture->IsNull());
    // A third picture does not fit either: that window shows its white area, the others keep
    // theirs.
    CFacettaDoc thirdDoc;
    CFacettaView third(&thirdDoc);
    third.ApplySettings(&s);
    ASSERT_TRUE(third.m_pPicture);
    EXPECT_TRUE(third.m_pPicture->IsNull());
    EXPECT_FALSE(m_view->m_pPicture->IsNull());
    MemoryBudget::SetLimit(saved);
    m_messages.clear();
    other.OnCopyPicture();
    EXPECT_TRUE(m_messages.empty());
}

// Save from the window into a disk that is full, then read-only: the program's message with
// the OS error, the file that was there unchanged, nothing left behind, the path remembered.
TEST_F(ViewLimits, SaveIntoAFullOrReadOnlyDisk) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ScratchMount disk;
    if (!disk.Mount(dir.path(), "32k")) GTEST_SKIP() << disk.Why();
    const QString existing = dir.filePath("keep.png");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'k'));
    }
    const QStringList listing =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    Apply(1200, 800, 0);
    ASSERT_TRUE(m_view->m_pPicture && !m_view->m_pPicture->IsNull());

    const struct {
        const char* stage;
        QStringList accepted;  // the message, by OS error code
    } stages[] = {
        {"full", {QStringLiteral("保存图片错误，错误代码：7/%1").arg(ENOSPC)}},
        // Replacing an existing file is refused up front as not writable.
        {"read-only",
         {QStringLiteral("保存图片错误，错误代码：7/%1").arg(EROFS),
          QStringLiteral("保存图片错误，错误代码：7/%1").arg(EACCES)}},
    };
    for (const auto& stage : stages) {
        SCOPED_TRACE(stage.stage);
        if (QLatin1String(stage.stage) == QLatin1String("read-only") && !disk.RemountReadOnly())
            GTEST_SKIP() << disk.Why();
        for (const char* name : {"keep.png", "new.jpg", "new.bmp"}) {
            m_messages.clear();
            m_saveChoice = dir.filePath(QString::fromLatin1(name));
            m_view->OnSavePicture();
            ASSERT_EQ(m_messages.size(), 1u) << name;
            EXPECT_TRUE(stage.accepted.contains(m_messages[0]))
                << name << ": " << m_messages[0].toStdString();
            EXPECT_EQ(m_view->m_strSavePath, m_saveChoice);
            QFile f(existing);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), QByteArray(4096, 'k'));
            EXPECT_EQ(
                QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                listing);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
