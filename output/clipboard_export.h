#pragma once
// Copying a picture to the clipboard for image editors, office and web programs and the QQ
// chat program: PNG bytes, an HTML fragment and two QQ rich-edit fragments, all three text
// formats pointing at a PNG file written to a folder only the user may enter, and the picture over
// white as a bitmap. Linux programs also get image/png and a plain text/html document.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringView>

#include <functional>

#include "picture.h"

class QMimeData;

// Clipboard format names, in the order they are offered.
inline constexpr const char kClipboardFormatPng[] = "PNG";
inline constexpr const char kClipboardFormatHtml[] = "HTML Format";
inline constexpr const char kClipboardFormatQQ[] = "QQ_RichEdit_Format";
inline constexpr const char kClipboardFormatQQUnicode[] = "QQ_Unicode_RichEdit_Format";

// Text into the 8-bit encoding the QQ format uses; characters it cannot hold become its
// replacement character.
using AnsiEncoder = std::function<QByteArray(QStringView)>;
// The system's 8-bit locale encoding (UTF-8 on a UTF-8 locale).
AnsiEncoder SystemAnsiEncoder();

// Pure builders: nothing but their inputs counts, any input is safe.

// "Temp_<pid>_<counter>.png" in `folder` (any separator style; native separators out).
QString TempPngPath(const QString& folder, qint64 processId, int counter);
// The image URL inside the HTML fragment. A POSIX path becomes file://<path> with the
// characters that would end or break the URL percent-encoded; other paths (a drive letter
// and backslashes) follow "file:///" as they are.
QString HtmlImageUrl(const QString& path);
// The "HTML Format" block: ASCII header with byte offsets, UTF-8 HTML; no terminating zero.
QByteArray BuildHtmlPayload(const QString& path);
// The same HTML without the header, for text/html.
QByteArray BuildHtmlDocument(const QString& path);
// The QQ rich-edit text naming the file, before encoding.
QString BuildQQText(const QString& path);
QByteArray BuildQQPayload(const QString& path, const AnsiEncoder& encoder);
// UTF-16 little-endian, no terminator.
QByteArray BuildQQUnicodePayload(const QString& path);
// The picture painted over white, the same size; null for a picture without pixels.
QImage BuildClipboardBitmap(const Picture& picture);

// A folder only this user may enter: $XDG_RUNTIME_DIR when it is one, otherwise
// <temp>/facetta-<uid> made with mode 0700 (or, when another user holds that name, a fresh
// one beside it); never a link. Empty when none can be had.
QString MakePrivateTempFolder();
// Where the temporary PNGs go: MakePrivateTempFolder(), made once per process.
QString ClipboardTempFolder();

// The application's one clipboard record. Payloads stay here until handed to the clipboard;
// what was not handed over is dropped when the next copy starts.
struct ClipboardExport {
    QImage hBitmap;
    QByteArray hPng;
    QByteArray hHtml;
    QByteArray hQQ;
    QByteArray hQQUnicode;
    QByteArray hSvg;       // the picture as an SVG document, offered as image/svg+xml
    QString szTempPath;    // temporary PNG of the last copy, empty when none was written
    int nTempCounter = 0;  // never reset, so names keep counting up through a run

    // Seams, left empty in the program: ClipboardTempFolder(), the process id, the locale.
    QString strTempFolder;
    qint64 nProcessId = 0;
    AnsiEncoder fnAnsi;

    void ReleaseClipboardPayloads();
    void CreateClipboardBitmap(const Picture& picture);
    // Encodes hPng; the same bytes go to the temporary file (mode 0600).
    void EncodePngToMemory(const Picture& picture);
    // szTempPath stays empty when the file cannot be written; the text formats, which would
    // name it, are then left out.
    void WriteTempPng();
    void BuildHtmlFormat();
    void BuildQQFormats();
    // False when there is no clipboard to publish to; the payloads then stay here.
    bool PublishClipboardData();
    // All the payloads as the clipboard takes them; each one that is set, in order.
    QMimeData* MakeMimeData() const;
};

// The record, made at the first call and kept to the end of the process.
ClipboardExport& TheClipboardExport();

// Builds and publishes every payload; a null picture empties the clipboard. Failures are
// silent: each failed step leaves its format out. False, with the clipboard emptied, when the
// copy's memory (its bitmap and PNG, held until the next copy) is more than the process's
// memory budget has left.
bool CopyPictureToClipboard(ClipboardExport& record, const Picture* picture);
// The same, also offering `svg` (when not empty) as image/svg+xml for vector editors.
bool CopyPictureToClipboard(ClipboardExport& record, const Picture* picture, const QByteArray& svg);
