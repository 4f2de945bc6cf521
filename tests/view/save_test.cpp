// Saving through the view with its dialog seam: names offered, the extension rule, formats,
// resolution, failures.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include "picture.h"
#include "view_fixture.h"

namespace {

QByteArray FormatOf(const QString& path) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.format();
}

TEST_F(ViewTest, SaveBeforeTheFirstPictureDoesNothing) {
    CFacettaView* view = MakeView(800, 600, QStringLiteral("图片1"));
    view->OnSavePicture();
    EXPECT_TRUE(offeredPaths.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(view->m_strSavePath.isEmpty());
}

TEST_F(ViewTest, SaveOffersTitleThenRememberedPathPerWindow) {
    QTemporaryDir dir, earlier;
    CFacettaView::s_strLastSaveFolder = earlier.path();
    CFacettaView* first = MakeView(400, 300, QStringLiteral("图片1"));
    CFacettaView* second = MakeView(400, 300, QStringLiteral("图片2"));
    first->OnGeneratePreview();
    second->OnGeneratePreview();

    // Cancelled: the title stays the name offered next time, in the folder last saved to.
    nextChoice.clear();
    first->OnSavePicture();
    first->OnSavePicture();
    const QString title1 = QDir(earlier.path()).filePath(QStringLiteral("图片1"));
    EXPECT_EQ(offeredPaths, (std::vector<QString>{title1, title1}));
    EXPECT_EQ(first->m_strSavePath, QStringLiteral("图片1"));
    EXPECT_EQ(offeredSuffixes.back(), QStringLiteral("png"));

    const QString saved = dir.filePath(QStringLiteral("a.JPG"));
    nextChoice = saved;
    first->OnSavePicture();
    EXPECT_TRUE(QFile::exists(saved));
    first->OnSavePicture();
    EXPECT_EQ(offeredPaths.back(), saved);
    EXPECT_EQ(offeredSuffixes.back(), QStringLiteral("jpg"));

    // Another window's first save starts where this one saved.
    nextChoice.clear();
    second->OnSavePicture();
    EXPECT_EQ(offeredPaths.back(), QDir(dir.path()).filePath(QStringLiteral("图片2")));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewTest, FirstSaveOfTheRunStartsInThePicturesFolder) {
    CFacettaView::s_strLastSaveFolder.clear();
    CFacettaView* view = MakeView(400, 300, QStringLiteral("图片1"));
    view->OnGeneratePreview();
    view->OnSavePicture();
    ASSERT_EQ(offeredPaths.size(), 1u);
    const QString folder = QFileInfo(offeredPaths[0]).absolutePath();
    EXPECT_NE(folder, QDir::currentPath());
    EXPECT_EQ(folder, CFacettaView::SaveStartFolder());
}

TEST_F(ViewTest, SaveWithoutTitleOffersATimeStampedName) {
    CFacettaView* view = MakeView(400, 300);
    view->OnGeneratePreview();
    view->OnSavePicture();
    ASSERT_EQ(offeredPaths.size(), 1u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Facetta_\\d{12}$"))
                    .match(view->m_strSavePath)
                    .hasMatch())
        << view->m_strSavePath.toStdString();
    EXPECT_EQ(offeredSuffixes[0], QStringLiteral("png"));
    EXPECT_EQ(QFileInfo(offeredPaths[0]).fileName(), view->m_strSavePath);
}

TEST_F(ViewTest, SavedFileNameAndFormatFollowTheExtension) {
    const struct {
        const char* typed;
        const char* written;
        const char* format;
    } cases[] = {
        {"a.JPG", "a.JPG", "jpeg"},  {"a.jpeg", "a.jpeg.png", "png"}, {"x", "x.png", "png"},
        {"a.pg", "a.pg.png", "png"}, {"a.", "a..png", "png"},         {"b.gif", "b.gif", "gif"},
        {"c.Bmp", "c.Bmp", "bmp"},   {"d.png", "d.png", "png"},       {"e.SVG", "e.SVG", "svg"},
    };
    QTemporaryDir dir;
    CFacettaView* view = MakeView(400, 300);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 320;
        s.nHeight = 240;
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        nextChoice = dir.filePath(QString::fromUtf8(c.typed));
        view->OnSavePicture();
        const QString written = dir.filePath(QString::fromUtf8(c.written));
        EXPECT_EQ(view->m_strSavePath, written);
        EXPECT_EQ(FormatOf(written), QByteArray(c.format));
        EXPECT_EQ(QImage(written).size(), QSize(320, 240));
    }
    // Nothing but the expected files.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), std::size(cases));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewTest, SavedFilesCarryResolutionAndQuality) {
    QTemporaryDir dir;
    CFacettaView* view = MakeView(400, 300);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 400;
        s.nHeight = 300;
        s.nLineOpacity = 100;
    });
    for (int dpi : {300, 72}) {
        for (const char* name : {"r.png", "r.jpg", "r.bmp"}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(dpi));
            Apply(view, [&](ImageSettings& s) { s.nResolution = dpi; });
            nextChoice = dir.filePath(QString::fromUtf8(name));
            view->OnSavePicture();
            const QImage back(nextChoice);
            ASSERT_FALSE(back.isNull());
            EXPECT_EQ(qRound(back.dotsPerMeterX() * 0.0254), dpi);
            EXPECT_EQ(qRound(back.dotsPerMeterY() * 0.0254), dpi);
        }
    }
    // Lower quality, smaller JPEG.
    auto jpegSize = [&](int quality) {
        Apply(view, [&](ImageSettings& s) { s.nQuality = quality; });
        nextChoice = dir.filePath(QStringLiteral("q%1.jpg").arg(quality));
        view->OnSavePicture();
        return QFileInfo(nextChoice).size();
    };
    EXPECT_LT(jpegSize(10), jpegSize(100));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewTest, FailedSaveReportsCodesAndRemembersThePath) {
    QTemporaryDir dir;
    CFacettaView* view = MakeView(400, 300);
    view->OnGeneratePreview();
    const QString target = dir.filePath(QStringLiteral("missing/folder/p.png"));
    nextChoice = target;
    view->OnSavePicture();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Facetta"));
    EXPECT_EQ(messages[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^保存图片错误，错误代码：\\d+/\\d+$"))
                    .match(messages[0].text)
                    .hasMatch())
        << messages[0].text.toStdString();
    EXPECT_NE(messages[0].text, QStringLiteral("保存图片错误，错误代码：0/0"));
    nextChoice.clear();
    view->OnSavePicture();
    EXPECT_EQ(offeredPaths.back(), target);
    EXPECT_EQ(view->m_strSavePath, target);
}

TEST_F(ViewTest, FailedSaveLeavesAnExistingFileIntact) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("keep.png"));
    const QByteArray original("existing contents");
    auto writeOriginal = [&] {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(original);
    };
    auto contents = [&] {
        QFile f(target);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    writeOriginal();

    // A picture that could not be made: the save fails and reports it.
    CFacettaView* view = MakeView(400, 300);
    const size_t oldMax = Picture::MaxBytes();
    Picture::SetMaxBytes(1000);
    view->OnGeneratePreview();
    Picture::SetMaxBytes(oldMax);
    nextChoice = target;
    view->OnSavePicture();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("保存图片错误，错误代码：2/0"));
    EXPECT_EQ(contents(), original);

    // A folder that cannot be written (permissions do not stop the superuser).
    if (geteuid() != 0) {
        view->OnGeneratePreview();
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        view->OnSavePicture();
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_TRUE(messages[1].text.startsWith(QStringLiteral("保存图片错误，错误代码：7/")));
        EXPECT_EQ(contents(), original);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.png")});
    }
}

// A GIF wider than the format records is refused with its own status before any encoding;
// the same picture saves as PNG.
TEST_F(ViewTest, SaveBeyondTheFormatsSizeSaysSo) {
    QTemporaryDir dir;
    CFacettaView* view = MakeView(400, 300);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 65536;
        s.nHeight = 200;
    });
    view->OnGeneratePreview();
    nextChoice = dir.filePath(QStringLiteral("wide.gif"));
    view->OnSavePicture();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("保存图片错误，错误代码：11/0"));
    EXPECT_FALSE(QFileInfo::exists(nextChoice));
    nextChoice = dir.filePath(QStringLiteral("wide.png"));
    view->OnSavePicture();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(QFileInfo::exists(nextChoice));
}

// The real dialog: save mode, overwrite prompt, the five filters shown as written, the
// default suffix added to a name typed without one.
TEST_F(ViewTest, SaveDialogIsConfiguredAsExpected) {
    QTemporaryDir dir;
    CFacettaView::s_fnSaveDialog = nullptr;
    QStringList shownFilters;
    QString suffix;
    bool saveMode = false, confirms = false;
    CFacettaView::s_fnExecDialog = [&](QDialog& d) {
        auto* dialog = qobject_cast<QFileDialog*>(&d);
        if (!dialog) return int(QDialog::Rejected);
        saveMode = dialog->acceptMode() == QFileDialog::AcceptSave;
        confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        suffix = dialog->defaultSuffix();
        if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < combo->count(); ++i) shownFilters << combo->itemText(i);
        dialog->selectFile(dir.filePath(QStringLiteral("typed")));
        return int(QDialog::Accepted);
    };
    CFacettaView* view = MakeView(400, 300, QStringLiteral("图片1"));
    view->OnGeneratePreview();
    view->OnSavePicture();
    EXPECT_TRUE(saveMode);
    EXPECT_TRUE(confirms);
    EXPECT_EQ(suffix, QStringLiteral("png"));
    EXPECT_EQ(shownFilters,
              (QStringList{QStringLiteral("图片文件(*.jpg;*.png;*.gif;*.bmp;*.svg)"),
                           QStringLiteral("PNG图片(*.png)"), QStringLiteral("JPG图片(*.jpg)"),
                           QStringLiteral("GIF图片(*.gif)"), QStringLiteral("BMP位图(*.bmp)"),
                           QStringLiteral("SVG矢量图(*.svg)")}));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("typed.png"))));
    EXPECT_EQ(view->m_strSavePath, dir.filePath(QStringLiteral("typed.png")));
}

// Picking an entry of one format in the real dialog, then typing a name without an
// extension, saves in that format under that extension; the entry of all formats keeps the
// window's default.
TEST_F(ViewTest, SaveDialogGivesATypedNameThePickedEntrysExtension) {
    QTemporaryDir dir;
    CFacettaView::s_fnSaveDialog = nullptr;
    int nPick = 0;
    CFacettaView::s_fnExecDialog = [&](QDialog& d) {
        auto* dialog = qobject_cast<QFileDialog*>(&d);
        auto* combo =
            dialog ? dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")) : nullptr;
        if (!combo) return int(QDialog::Rejected);
        // As a user does: the list of types, arrow keys down to the entry.
        combo->setFocus();
        for (int i = combo->currentIndex(); i < nPick; ++i) QTest::keyClick(combo, Qt::Key_Down);
        dialog->selectFile(dir.filePath(QStringLiteral("typed%1").arg(nPick)));
        return int(QDialog::Accepted);
    };
    const struct {
        int pick;
        const char* file;
        QByteArray format;
    } cases[] = {
        {2, "typed2.jpg", "jpeg"}, {3, "typed3.gif", "gif"}, {4, "typed4.bmp", "bmp"},
        {1, "typed1.png", "png"},  {0, "typed0.png", "png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CFacettaView* view = MakeView(400, 300, QStringLiteral("图片1"));
        view->OnGeneratePreview();
        nPick = c.pick;
        view->OnSavePicture();
        const QString path = dir.filePath(QString::fromUtf8(c.file));
        EXPECT_EQ(view->m_strSavePath, path);
        EXPECT_EQ(FormatOf(path), c.format);
    }
}

// The file is written off the interface thread while events go on. An edit made meanwhile is
// shown once the file is written, and the file holds the picture as it was; the save command
// meanwhile is not taken; closing the window meanwhile still finishes its file.
TEST_F(ViewTest, EventsDuringASaveLeaveItsFileWhole) {
    QTemporaryDir dir;
    CFacettaView* view = MakeView(400, 300);
    Apply(view, [](ImageSettings& s) {
        s.nWidth = 1920;
        s.nHeight = 1080;
    });
    auto shown = [&] {
        return PictureAsImage(*view->m_pPicture).convertToFormat(QImage::Format_RGB32);
    };
    auto written = [](const QString& path) {
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    };
    const QImage before = shown();
    // Queued from the dialog, so that they arrive while the file is being written.
    std::function<void()> duringSave;
    auto dialog = CFacettaView::s_fnSaveDialog;
    CFacettaView::s_fnSaveDialog = [&](QWidget* p, const QString& initial, const QString& suffix,
                                       const QStringList& filters) {
        if (duringSave) QTimer::singleShot(0, std::exchange(duringSave, nullptr));
        return dialog(p, initial, suffix, filters);
    };

    nextChoice = dir.filePath(QStringLiteral("edited.png"));
    duringSave = [&] {
        EXPECT_TRUE(view->IsSaving());
        Apply(view, [](ImageSettings& s) { s.crPolyColor = RGBColor(200, 30, 30); });
        view->OnSavePicture();
    };
    view->OnSavePicture();
    EXPECT_FALSE(view->IsSaving());
    EXPECT_EQ(offeredPaths.size(), 1u);
    EXPECT_EQ(written(nextChoice), before);
    EXPECT_NE(shown(), before);
    EXPECT_EQ(view->m_settings.crPolyColor, RGBColor(200, 30, 30));

    const QImage edited = shown();
    nextChoice = dir.filePath(QStringLiteral("closed.png"));
    QPointer<CFacettaView> alive(view);
    const auto it =
        std::find_if(views.begin(), views.end(),
                     [&](const std::unique_ptr<CFacettaView>& v) { return v.get() == view; });
    ASSERT_NE(it, views.end());
    it->release();
    views.erase(it);
    duringSave = [&] { view->deleteLater(); };
    view->OnSavePicture();
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(written(nextChoice), edited);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
