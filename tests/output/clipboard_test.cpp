#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <clocale>

#if !defined(Q_OS_WIN)
#include <langinfo.h>
#include <sys/stat.h>
#endif

#include "clipboard_export.h"
#include "picture_writer.h"
#include "test_pictures.h"

namespace {

QByteArray Bytes(const char* s) {
    return QByteArray(s);
}

TEST(ClipboardPayload, HtmlBlockByteForByte) {
    const struct {
        QString path;
        QByteArray expected;
    } cases[] = {
        {QStringLiteral("/tmp/Temp_4321_1.png"),
         Bytes("Version:0.9\r\nStartHTML:00000097\r\nEndHTML:00000212\r\n"
               "StartFragment:00000111\r\nEndFragment:00000176\r\n"
               "<html><body>\r\n<!--StartFragment -->\r\n"
               "<IMG src=\"file:///tmp/Temp_4321_1.png\" >\r\n"
               "<!--EndFragment-->\r\n</body>\r\n</html>")},
        // Raw UTF-8 in the fragment: 7 more bytes for 临时/.
        {QString::fromUtf8("/tmp/临时/Temp_4321_1.png"),
         Bytes("Version:0.9\r\nStartHTML:00000097\r\nEndHTML:00000219\r\n"
               "StartFragment:00000111\r\nEndFragment:00000183\r\n"
               "<html><body>\r\n<!--StartFragment -->\r\n"
               "<IMG src=\"file:///tmp/\xE4\xB8\xB4\xE6\x97\xB6/Temp_4321_1.png\" >\r\n"
               "<!--EndFragment-->\r\n</body>\r\n</html>")},
        // A drive-letter path keeps its three slashes and its backslashes.
        {QStringLiteral("C:\\T\\Temp_4321_1.png"),
         Bytes("Version:0.9\r\nStartHTML:00000097\r\nEndHTML:00000213\r\n"
               "StartFragment:00000111\r\nEndFragment:00000177\r\n"
               "<html><body>\r\n<!--StartFragment -->\r\n"
               "<IMG src=\"file:///C:\\T\\Temp_4321_1.png\" >\r\n"
               "<!--EndFragment-->\r\n</body>\r\n</html>")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QByteArray html = BuildHtmlPayload(c.path);
        EXPECT_EQ(html.toStdString(), c.expected.toStdString());
        EXPECT_EQ(html.mid(97, 6), "<html>");
        EXPECT_EQ(html.mid(111, 21), "<!--StartFragment -->");
        EXPECT_EQ(BuildHtmlDocument(c.path), html.mid(97));
    }
}

TEST(ClipboardPayload, HtmlOffsetsHoldForLongPaths) {
    // No buffer to overflow: thousands of units, the header still tells the truth.
    const QString path =
        QStringLiteral("/tmp/") + QString(3000, QChar(0x4E34)) + QStringLiteral("/Temp_1_1.png");
    const QByteArray html = BuildHtmlPayload(path);
    const int n = 10 + 7 + 5 + 3000 * 3 + 13 + 3;
    EXPECT_EQ(html.size(), 172 + n);
    EXPECT_EQ(html.mid(23, 8), QByteArray::number(97).rightJustified(8, '0'));
    EXPECT_EQ(html.mid(41, 8), QByteArray::number(172 + n).rightJustified(8, '0'));
    EXPECT_EQ(html.mid(65, 8), "00000111");
    EXPECT_EQ(html.mid(87, 8), QByteArray::number(136 + n).rightJustified(8, '0'));
    EXPECT_EQ(html.mid(136 + n, 18), "<!--EndFragment-->");
    EXPECT_TRUE(html.endsWith("</html>"));
    EXPECT_TRUE(BuildQQText(path).contains(path));
}

TEST(ClipboardPayload, ImageUrlIsValidForAnyPosixPath) {
    const struct {
        const char* path;
        const char* url;
    } cases[] = {
        {"/tmp/Temp_1_1.png", "file:///tmp/Temp_1_1.png"},
        {"/home/a b/t#1/x%y.png", "file:///home/a%20b/t%231/x%25y.png"},
        {"/t/\"q\"&<i>?.png", "file:///t/%22q%22%26%3Ci%3E%3F.png"},
        {"/t/\xE4\xB8\xB4.png", "file:///t/\xE4\xB8\xB4.png"},
        {"C:\\Users\\A B\\Temp_1_1.png", "file:///C:\\Users\\A B\\Temp_1_1.png"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HtmlImageUrl(QString::fromUtf8(c.path)), QString::fromUtf8(c.url)) << c.path;
    }
}

TEST(ClipboardPayload, QQFormatsInTheEightBitEncodingAndUtf16) {
    const QString ascii = QStringLiteral("/tmp/Temp_4321_1.png");
    const QString chinese = QString::fromUtf8("/tmp/临时/Temp_4321_1.png");
    auto qq = [](const QByteArray& path) {
        return Bytes(
                   "<QQRichEditFormat><Info version=\"1001\"></Info><EditElement type=\"1\" "
                   "filepath=\"") +
               path + Bytes("\" shortcut=\"\"></EditElement></QQRichEditFormat>");
    };
    const AnsiEncoder latin1 = [](QStringView s) {
        QStringEncoder e(QStringConverter::Latin1);
        return QByteArray(e.encode(s));
    };
    const AnsiEncoder gb18030 = [](QStringView s) {
        QStringEncoder e("GB18030");
        return QByteArray(e.encode(s));
    };
    EXPECT_EQ(BuildQQPayload(ascii, latin1), qq("/tmp/Temp_4321_1.png"));
    // Characters the code page lacks become its default character.
    EXPECT_EQ(BuildQQPayload(chinese, latin1), qq("/tmp/?"
                                                  "?/Temp_4321_1.png"));
    if (QStringEncoder("GB18030").isValid()) {
        EXPECT_EQ(BuildQQPayload(chinese, gb18030), qq("/tmp/\xC1\xD9\xCA\xB1/Temp_4321_1.png"));
    }
    // The program's own encoder follows the locale the application sets up at start: UTF-8
    // stays UTF-8, plain ASCII (the C locale) has no Chinese.
#if !defined(Q_OS_WIN)
    std::setlocale(LC_CTYPE, "");
    const QByteArray codeset(nl_langinfo(CODESET));
    if (codeset == "UTF-8") {
        EXPECT_EQ(BuildQQPayload(chinese, SystemAnsiEncoder()), qq(chinese.toUtf8()));
    } else if (codeset == "ANSI_X3.4-1968") {
        EXPECT_EQ(BuildQQPayload(chinese, SystemAnsiEncoder()), qq("/tmp/?"
                                                                   "?/Temp_4321_1.png"));
    }
#endif

    const QByteArray unicode = BuildQQUnicodePayload(chinese);
    const QString text = QString::fromUtf8(qq(chinese.toUtf8()));
    ASSERT_EQ(unicode.size(), 2 * text.size());  // no terminator
    for (qsizetype i = 0; i < text.size(); ++i) {
        ASSERT_EQ(uint8_t(unicode[2 * i]), text[i].unicode() & 0xFF) << i;
        ASSERT_EQ(uint8_t(unicode[2 * i + 1]), text[i].unicode() >> 8) << i;
    }
    // A path that would break the XML attribute is escaped.
    EXPECT_EQ(BuildQQPayload(QStringLiteral("/t/a\"b&<c>.png"), latin1),
              qq("/t/a&quot;b&amp;&lt;c&gt;.png"));
}

TEST(ClipboardPayload, TempNames) {
    EXPECT_EQ(TempPngPath(QStringLiteral("/tmp"), 4321, 1), QStringLiteral("/tmp/Temp_4321_1.png"));
    EXPECT_EQ(TempPngPath(QStringLiteral("/tmp/"), 4321, 12),
              QStringLiteral("/tmp/Temp_4321_12.png"));
}

TEST(ClipboardPayload, BitmapIsThePictureOverWhite) {
    const Picture picture = MakeTestPicture(64, 48, true);
    const QImage bitmap = BuildClipboardBitmap(picture);
    ASSERT_EQ(bitmap.size(), QSize(64, 48));
    for (auto [x, y] : {std::pair{0, 0}, {2, 3}, {20, 20}, {63, 47}, {40, 10}}) {
        const uint32_t p = picture.Pixel(x, y);
        const int a = int(p >> 24);
        const QRgb got = bitmap.pixel(x, y);
        auto over = [&](int c) { return (c * a + 255 * (255 - a)) / 255; };
        EXPECT_NEAR(qRed(got), over(int(p >> 16) & 0xFF), 2) << x << "," << y;
        EXPECT_NEAR(qGreen(got), over(int(p >> 8) & 0xFF), 2) << x << "," << y;
        EXPECT_NEAR(qBlue(got), over(int(p) & 0xFF), 2) << x << "," << y;
    }
    EXPECT_TRUE(BuildClipboardBitmap(Picture()).isNull());
}

class ClipboardCopy : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QGuiApplication::instance()) {
            static int argc = 1;
            static char name[] = "output_tests";
            static char* argv[] = {name, nullptr};
            new QGuiApplication(argc, argv);  // lives to the end of the process
        }
    }
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_record.strTempFolder = m_dir.path();
        m_record.nProcessId = 4321;
    }
    QString Temp(int n) const { return m_dir.filePath(QStringLiteral("Temp_4321_%1.png").arg(n)); }

    QTemporaryDir m_dir;
    ClipboardExport m_record;
};

TEST_F(ClipboardCopy, FormatsAndBytesReadBack) {
    const Picture picture = MakeTestPicture(120, 80, true);
    CopyPictureToClipboard(m_record, &picture);
    const QString path = Temp(1);
    EXPECT_EQ(m_record.szTempPath, path);

    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    const QStringList expected = {"PNG",
                                  "HTML Format",
                                  "QQ_RichEdit_Format",
                                  "QQ_Unicode_RichEdit_Format",
                                  "application/x-qt-image",
                                  "image/png",
                                  "text/html"};
    EXPECT_EQ(data->formats(), expected);

    QByteArray png;
    ASSERT_EQ(EncodePngToMemory(picture, png), Status::Ok);
    EXPECT_EQ(data->data("PNG"), png);
    EXPECT_EQ(data->data("image/png"), png);
    EXPECT_EQ(ReadAll(path), png);  // one encoding serves the file and the clipboard
    EXPECT_EQ(data->data("HTML Format"), BuildHtmlPayload(path));
    EXPECT_EQ(data->data("text/html"), BuildHtmlDocument(path));
    EXPECT_EQ(data->data("QQ_RichEdit_Format"), BuildQQPayload(path, SystemAnsiEncoder()));
    EXPECT_EQ(data->data("QQ_Unicode_RichEdit_Format"), BuildQQUnicodePayload(path));
    const QImage image = qvariant_cast<QImage>(data->imageData());
    EXPECT_EQ(image, BuildClipboardBitmap(picture));
    const QImage decoded = QImage::fromData(png, "PNG");
    EXPECT_EQ(decoded.size(), QSize(120, 80));
    EXPECT_EQ(decoded.pixel(100, 70), picture.Pixel(100, 70));

    // Handed over: the record keeps only the path.
    EXPECT_TRUE(m_record.hPng.isEmpty());
    EXPECT_TRUE(m_record.hHtml.isEmpty());
    EXPECT_TRUE(m_record.hBitmap.isNull());
}

TEST_F(ClipboardCopy, VectorDocumentIsOfferedWhenGiven) {
    const Picture picture = MakeTestPicture(120, 80, true);
    const QByteArray svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"120\" height=\"80\"/>";
    CopyPictureToClipboard(m_record, &picture, svg);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->data("image/svg+xml"), svg);
    EXPECT_TRUE(m_record.hSvg.isEmpty());
    // The next copy without one does not offer the old document.
    CopyPictureToClipboard(m_record, &picture);
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("image/svg+xml"));
}

TEST_F(ClipboardCopy, TempNamesSkipWhatExistsAndTheLastCopyDeletesThePrevious) {
    // A stranger's file and a planted link take numbers 1 and 3.
    QFile stranger(Temp(1));
    ASSERT_TRUE(stranger.open(QIODevice::WriteOnly));
    stranger.write("theirs");
    stranger.close();
    const QString target = m_dir.filePath(QStringLiteral("target"));
    ASSERT_TRUE(QFile::link(target, Temp(3)));

    const Picture a = MakeTestPicture(40, 30);
    const Picture b = MakeTestPicture(50, 20, true);
    CopyPictureToClipboard(m_record, &a);  // window A
    EXPECT_EQ(m_record.szTempPath, Temp(2));
    EXPECT_TRUE(QFileInfo::exists(Temp(2)));

    CopyPictureToClipboard(m_record, &b);  // window B
    EXPECT_EQ(m_record.szTempPath, Temp(4));
    EXPECT_FALSE(QFileInfo::exists(Temp(2)));
    EXPECT_FALSE(QFileInfo::exists(target));  // the link was never written through
    EXPECT_EQ(ReadAll(Temp(1)), "theirs");
    QByteArray pngB;
    ASSERT_EQ(EncodePngToMemory(b, pngB), Status::Ok);
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("PNG"), pngB);
    EXPECT_EQ(ReadAll(Temp(4)), pngB);

    CopyPictureToClipboard(m_record, &a);
    EXPECT_EQ(m_record.szTempPath, Temp(5));  // the counter is never reset
    EXPECT_FALSE(QFileInfo::exists(Temp(4)));
    EXPECT_EQ(m_record.nTempCounter, 5);
}

TEST_F(ClipboardCopy, NoPictureEmptiesTheClipboard) {
    const Picture a = MakeTestPicture(40, 30);
    CopyPictureToClipboard(m_record, &a);
    ASSERT_FALSE(QGuiApplication::clipboard()->mimeData()->formats().isEmpty());
    CopyPictureToClipboard(m_record, nullptr);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    EXPECT_TRUE(!data || data->formats().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Temp(1)));
    EXPECT_TRUE(m_record.szTempPath.isEmpty());
    EXPECT_EQ(m_record.nTempCounter, 1);
}

// Without the file, the formats that name it are left out: a paste would find nothing there,
// or whatever someone else put under that name.
TEST_F(ClipboardCopy, AnUnwritableFolderLeavesOutTheFormatsNamingTheFile) {
    m_record.strTempFolder = m_dir.filePath(QStringLiteral("missing"));
    const Picture a = MakeTestPicture(40, 30);
    CopyPictureToClipboard(m_record, &a);
    EXPECT_TRUE(m_record.szTempPath.isEmpty());
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    const QStringList expected = {"PNG", "application/x-qt-image", "image/png"};
    EXPECT_EQ(data->formats(), expected);
    EXPECT_TRUE(data->hasImage());
}

// The file of a copy is the user's alone: in a folder nobody else may enter, mode 0600.
TEST_F(ClipboardCopy, TheFileIsPrivate) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const QByteArray runtimePath = QFile::encodeName(runtime.path());
    ASSERT_EQ(chmod(runtimePath.constData(), 0700), 0);
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", runtimePath);
    EXPECT_EQ(MakePrivateTempFolder(), runtime.path());

    // A runtime folder others may enter is not used; the temporary folder gets one of ours.
    ASSERT_EQ(chmod(runtimePath.constData(), 0755), 0);
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    const QString own = MakePrivateTempFolder();
    EXPECT_TRUE(own.startsWith(m_dir.path()));
    struct stat st {};
    ASSERT_EQ(lstat(QFile::encodeName(own).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link planted under the usual name, or the name held by a folder others may enter,
    // is passed over for a fresh folder.
    ASSERT_TRUE(QDir(own).removeRecursively());
    const QString decoy = m_dir.filePath(QStringLiteral("decoy"));
    ASSERT_TRUE(QDir().mkdir(decoy));
    ASSERT_EQ(chmod(QFile::encodeName(decoy).constData(), 0700), 0);
    ASSERT_TRUE(QFile::link(decoy, own));
    const QString fresh = MakePrivateTempFolder();
    EXPECT_FALSE(fresh.isEmpty());
    EXPECT_NE(fresh, own);
    ASSERT_EQ(lstat(QFile::encodeName(fresh).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_TRUE(QFile::remove(own));
    ASSERT_TRUE(QDir().mkdir(own));
    ASSERT_EQ(chmod(QFile::encodeName(own).constData(), 0755), 0);
    EXPECT_NE(MakePrivateTempFolder(), own);

    // And the file itself.
    m_record.strTempFolder = fresh;
    const Picture a = MakeTestPicture(40, 30);
    CopyPictureToClipboard(m_record, &a);
    ASSERT_EQ(stat(QFile::encodeName(m_record.szTempPath).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    if (savedTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", savedTmp);
}

}  // namespace
