#include "clipboard_export.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QStringEncoder>

#include <climits>

#if !defined(Q_OS_WIN)
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

#include "picture_image.h"
#include "picture_writer.h"

namespace {

// The offsets are filled in once the text is complete: StartHTML is where "<html>" begins,
// StartFragment where the start comment itself begins.
constexpr char kHtmlHeader[] =
    "Version:0.9\r\nStartHTML:00000000\r\nEndHTML:00000000\r\n"
    "StartFragment:00000000\r\nEndFragment:00000000\r\n";
constexpr char kHtmlOpen[] = "<html><body>\r\n<!--StartFragment -->\r\n";
constexpr char kHtmlClose[] = "\r\n<!--EndFragment-->\r\n</body>\r\n</html>";

void SetOffset(QByteArray& text, const char* label, qsizetype value) {
    const qsizetype at = text.indexOf(label);
    if (at < 0) return;
    const QByteArray digits = QByteArray::number(value).rightJustified(8, '0');
    text.replace(at + qsizetype(qstrlen(label)) + 1, 8, digits);
}

QByteArray HtmlFragment(const QString& path) {
    return QStringLiteral("<IMG src=\"%1\" >").arg(HtmlImageUrl(path)).toUtf8();
}

// Inside the QQ format's XML attribute these would end the value or start markup.
QString XmlAttributeEscaped(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
            case '&':
                out += QLatin1String("&amp;");
                break;
            case '<':
                out += QLatin1String("&lt;");
                break;
            case '>':
                out += QLatin1String("&gt;");
                break;
            case '"':
                out += QLatin1String("&quot;");
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Clipboard keys for the formats with names of their own. X11 takes any name as a target;
// on Windows Qt registers the format under the name given in this form.
QString FormatKey(const char* name) {
#if defined(Q_OS_WIN)
    return QStringLiteral("application/x-qt-windows-mime;value=\"%1\"").arg(QLatin1String(name));
#else
    return QString::fromLatin1(name);
#endif
}

AnsiEncoder EncoderFor(const QByteArray& name) {
    return [name](QStringView text) {
        QByteArray out;
        // One code point at a time, so that what the encoding cannot hold becomes '?', as
        // it does for Windows' default character, not the control code some converters use.
        for (qsizetype i = 0; i < text.size();) {
            const qsizetype n =
                (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                    ? 2
                    : 1;
            QStringEncoder encoder(name.constData());
            const QByteArray bytes = encoder.encode(text.mid(i, n));
            out += encoder.hasError() || bytes.isEmpty() ? QByteArray("?") : bytes;
            i += n;
        }
        return out;
    };
}

}  // namespace

AnsiEncoder SystemAnsiEncoder() {
#if !defined(Q_OS_WIN)
    const QByteArray codeset(nl_langinfo(CODESET));
    if (!codeset.isEmpty() && QStringEncoder(codeset.constData()).isValid())
        return EncoderFor(codeset);
#endif
    return [](QStringView text) {
        QStringEncoder encoder(QStringConverter::System);
        return QByteArray(encoder.encode(text));
    };
}

QString TempPngPath(const QString& folder, qint64 processId, int counter) {
    QString path = QDir::toNativeSeparators(folder);
    if (!path.endsWith(QDir::separator())) path += QDir::separator();
    return path + QStringLiteral("Temp_%1_%2.png").arg(processId).arg(counter);
}

QString HtmlImageUrl(const QString& path) {
    if (!path.startsWith(QLatin1Char('/'))) return QStringLiteral("file:///") + path;
    // Non-ASCII stays as it is (UTF-8 in the payload); ASCII that is not allowed in a URL
    // path or that would close the attribute is escaped.
    static const QByteArray kUnsafe(" \"#%<>?[\\]^`{|}&");
    QString url = QStringLiteral("file://");
    url.reserve(url.size() + path.size());
    for (QChar c : path) {
        const char16_t u = c.unicode();
        if (u < 0x21 || u == 0x7F || (u < 0x80 && kUnsafe.contains(char(u))))
            url += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            url += c;
    }
    return url;
}

QByteArray BuildHtmlPayload(const QString& path) {
    const QByteArray fragment = HtmlFragment(path);
    QByteArray text;
    text.reserve(qsizetype(sizeof kHtmlHeader + sizeof kHtmlOpen + sizeof kHtmlClose) +
                 fragment.size());
    text += kHtmlHeader;
    const qsizetype startHtml = text.size();
    text += kHtmlOpen;
    const qsizetype startFragment = startHtml + qsizetype(qstrlen("<html><body>\r\n"));
    text += fragment;
    const qsizetype endFragment = text.size() + 2;  // after the fragment's line end
    text += kHtmlClose;
    SetOffset(text, "StartHTML", startHtml);
    SetOffset(text, "EndHTML", text.size());
    SetOffset(text, "StartFragment", startFragment);
    SetOffset(text, "EndFragment", endFragment);
    return text;
}

QByteArray BuildHtmlDocument(const QString& path) {
    return kHtmlOpen + HtmlFragment(path) + kHtmlClose;
}

QString BuildQQText(const QString& path) {
    return QStringLiteral(
               "<QQRichEditFormat><Info version=\"1001\"></Info><EditElement type=\"1\" "
               "filepath=\"%1\" shortcut=\"\"></EditElement></QQRichEditFormat>")
        .arg(XmlAttributeEscaped(path));
}

QByteArray BuildQQPayload(const QString& path, const AnsiEncoder& encoder) {
    return encoder ? encoder(BuildQQText(path)) : QByteArray();
}

QByteArray BuildQQUnicodePayload(const QString& path) {
    QStringEncoder encoder(QStringConverter::Utf16LE);
    return encoder.encode(BuildQQText(path));
}

QImage BuildClipboardBitmap(const Picture& picture) {
    if (picture.IsNull()) return QImage();
    QImage bitmap(picture.Width(), picture.Height(), QImage::Format_RGB32);
    if (bitmap.isNull()) return QImage();
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    painter.drawImage(0, 0, PictureAsImage(picture));
    painter.end();
    return bitmap;
}

void ClipboardExport::ReleaseClipboardPayloads() {
    hBitmap = QImage();
    hPng.clear();
    hHtml.clear();
    hQQ.clear();
    hQQUnicode.clear();
    hSvg.clear();
    // The previous copy's file goes only now: until the next copy the clipboard refers to it.
    if (!szTempPath.isEmpty()) QFile::remove(szTempPath);
    szTempPath.clear();
}

void ClipboardExport::CreateClipboardBitmap(const Picture& picture) {
    hBitmap = BuildClipboardBitmap(picture);
}

void ClipboardExport::EncodePngToMemory(const Picture& picture) {
    if (::EncodePngToMemory(picture, hPng) != Status::Ok) hPng.clear();
}

namespace {

#if !defined(Q_OS_WIN)
// A folder only we may enter: a real folder (not a link), ours, closed to group and others.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}
#endif

}  // namespace

QString MakePrivateTempFolder() {
#if defined(Q_OS_WIN)
    return QDir::tempPath();
#else
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/') && IsPrivateFolder(runtime))
        return QFile::decodeName(runtime);
    // The shared temporary folder: a folder of our own in it. Another user may have taken the
    // usual name first (or put a link there); then a fresh one with a random name.
    const QByteArray usual =
        QFile::encodeName(QDir::tempPath()) + "/facetta-" + QByteArray::number(geteuid());
    if (mkdir(usual.constData(), 0700) == 0 || errno == EEXIST) {
        if (IsPrivateFolder(usual)) return QFile::decodeName(usual);
    }
    QByteArray fresh = usual + "-XXXXXX";
    if (mkdtemp(fresh.data()) && IsPrivateFolder(fresh)) return QFile::decodeName(fresh);
    return QString();
#endif
}

namespace {

// Exclusively, 0600, never through a link. 0, or the errno.
int WriteNewFile(const QString& path, const QByteArray& bytes) {
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            close(fd);
            unlink(name.constData());
            return err;
        }
        p += n;
        left -= n;
    }
    if (close(fd) != 0) {
        const int err = errno;
        unlink(name.constData());
        return err;
    }
    return 0;
}

}  // namespace

QString ClipboardTempFolder() {
    // Made once: the process keeps one folder.
    static const QString folder = MakePrivateTempFolder();
    return folder;
}

void ClipboardExport::WriteTempPng() {
    szTempPath.clear();
    if (hPng.isEmpty()) return;  // nothing to write, so nothing to name
    const QString folder = strTempFolder.isEmpty() ? ClipboardTempFolder() : strTempFolder;
    if (folder.isEmpty()) return;
    const qint64 pid = nProcessId != 0 ? nProcessId : QCoreApplication::applicationPid();
    while (nTempCounter < INT_MAX) {
        const QString path = TempPngPath(folder, pid, ++nTempCounter);
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink()) continue;
        // Created exclusively: a name that appeared since the check is skipped, never written
        // through.
        const int err = WriteNewFile(path, hPng);
        if (err == EEXIST) continue;
        if (err == 0) szTempPath = path;
        return;
    }
}

// The text formats name the file: without it they would send a paste to a missing file, or to
// whatever someone else puts under that name.
void ClipboardExport::BuildHtmlFormat() {
    hHtml = szTempPath.isEmpty() ? QByteArray() : BuildHtmlPayload(szTempPath);
}

void ClipboardExport::BuildQQFormats() {
    if (szTempPath.isEmpty()) {
        hQQ.clear();
        hQQUnicode.clear();
        return;
    }
    hQQ = BuildQQPayload(szTempPath, fnAnsi ? fnAnsi : SystemAnsiEncoder());
    hQQUnicode = BuildQQUnicodePayload(szTempPath);
}

QMimeData* ClipboardExport::MakeMimeData() const {
    auto* data = new QMimeData;
    if (!hPng.isEmpty()) data->setData(FormatKey(kClipboardFormatPng), hPng);
    if (!hHtml.isEmpty()) data->setData(FormatKey(kClipboardFormatHtml), hHtml);
    if (!hQQ.isEmpty()) data->setData(FormatKey(kClipboardFormatQQ), hQQ);
    if (!hQQUnicode.isEmpty()) data->setData(FormatKey(kClipboardFormatQQUnicode), hQQUnicode);
    if (!hBitmap.isNull()) data->setImageData(hBitmap);
    if (!hSvg.isEmpty()) data->setData(QStringLiteral("image/svg+xml"), hSvg);
#if !defined(Q_OS_WIN)
    // Windows makes these two from the formats above by itself.
    if (!hPng.isEmpty()) data->setData(QStringLiteral("image/png"), hPng);
    if (!hHtml.isEmpty())
        data->setData(QStringLiteral("text/html"), hHtml.mid(qsizetype(sizeof kHtmlHeader - 1)));
#endif
    return data;
}

bool ClipboardExport::PublishClipboardData() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    clipboard->setMimeData(MakeMimeData());
    // The clipboard holds its own copies now.
    hBitmap = QImage();
    hPng.clear();
    hHtml.clear();
    hQQ.clear();
    hQQUnicode.clear();
    hSvg.clear();
    return true;
}

ClipboardExport& TheClipboardExport() {
    // Never destroyed: the clipboard and the last temporary file outlive every window.
    static ClipboardExport* record = new ClipboardExport;
    return *record;
}

bool CopyPictureToClipboard(ClipboardExport& record, const Picture* picture) {
    return CopyPictureToClipboard(record, picture, QByteArray());
}

bool CopyPictureToClipboard(ClipboardExport& record, const Picture* picture,
                            const QByteArray& svg) {
    // The clipboard holds one copy at a time: the bitmap, and the PNG at most as large.
    static MemoryCharge s_copy;
    record.ReleaseClipboardPayloads();
    s_copy.Reset();
    const bool empty = !picture || picture->IsNull();
    if (!empty) s_copy = MemoryCharge::Take(picture->ByteCount() * 2);
    if (empty || !s_copy.Held()) {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            QGuiApplication::clipboard()->clear();
        return empty;
    }
    record.CreateClipboardBitmap(*picture);
    record.EncodePngToMemory(*picture);
    record.WriteTempPng();
    record.BuildHtmlFormat();
    record.BuildQQFormats();
    record.hSvg = svg;
    record.PublishClipboardData();
    return true;
}
