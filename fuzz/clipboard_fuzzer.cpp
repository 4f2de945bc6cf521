// The clipboard payload builders on arbitrary paths (as a temporary folder could be named),
// and now and then the whole copy record on a small picture, writing into a folder of its own.
// Checked beyond the sanitizers: the HTML header's offsets point where they say, the URL and
// the QQ attribute cannot be broken out of, and the sizes are what the formats promise.
#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "clipboard_export.h"
#include "fuzz_check.h"
#include "picture_writer.h"

namespace {

QTemporaryDir* g_folder = nullptr;

qsizetype HeaderValue(const QByteArray& html, const char* label) {
    const qsizetype at = html.indexOf(label);
    FUZZ_CHECK(at >= 0);
    const QByteArray digits = html.mid(at + qsizetype(qstrlen(label)) + 1, 8);
    FUZZ_CHECK(html.mid(at + qsizetype(qstrlen(label)) + 9, 2) == "\r\n");
    bool ok = false;
    const qsizetype value = digits.toLongLong(&ok);
    FUZZ_CHECK(ok);
    return value;
}

void CheckHtml(const QString& path) {
    const QByteArray html = BuildHtmlPayload(path);
    FUZZ_CHECK(html.startsWith("Version:0.9\r\n"));
    FUZZ_CHECK(HeaderValue(html, "StartHTML") == 97);
    FUZZ_CHECK(HeaderValue(html, "StartFragment") == 111);
    FUZZ_CHECK(HeaderValue(html, "EndHTML") == html.size());
    const qsizetype endFragment = HeaderValue(html, "EndFragment");
    FUZZ_CHECK(html.mid(97).startsWith("<html>"));
    FUZZ_CHECK(html.mid(111).startsWith("<!--StartFragment -->"));
    FUZZ_CHECK(html.mid(endFragment).startsWith("<!--EndFragment-->"));
    FUZZ_CHECK(html.endsWith("</html>"));
    FUZZ_CHECK(BuildHtmlDocument(path) == html.mid(97));

    const QString url = HtmlImageUrl(path);
    if (path.startsWith(QLatin1Char('/'))) {
        // A POSIX path makes a URL: nothing in it may end the attribute, the tag or the URL.
        FUZZ_CHECK(url.startsWith(QLatin1String("file:///")));
        for (QChar c : url) {
            const char16_t u = c.unicode();
            FUZZ_CHECK(u > 0x20 && u != 0x7F);
            FUZZ_CHECK(!QStringLiteral("\"<> #?\\").contains(c));
        }
        // The fragment holds exactly the two quotes of its attribute.
        const qsizetype fragmentStart = 111 + qsizetype(qstrlen("<!--StartFragment -->\r\n"));
        FUZZ_CHECK(html.mid(fragmentStart, endFragment - fragmentStart).count('"') == 2);
    }
}

void CheckQQ(const QString& path) {
    const QString text = BuildQQText(path);
    // The template's eight quotes; a quote in the path is escaped.
    FUZZ_CHECK(text.count(QLatin1Char('"')) == 8);
    FUZZ_CHECK(BuildQQUnicodePayload(path).size() == text.size() * 2);
    const AnsiEncoder latin1 = [](QStringView s) { return s.toLatin1(); };
    FUZZ_CHECK(BuildQQPayload(path, latin1).size() == text.size());
    BuildQQPayload(path, SystemAnsiEncoder());
    FUZZ_CHECK(BuildQQPayload(path, AnsiEncoder()).isEmpty());
}

void CopyRecord(FuzzedDataProvider& in) {
    const int w = in.ConsumeIntegralInRange(0, 12), h = in.ConsumeIntegralInRange(0, 12);
    Picture picture = Picture::Create(w, h);
    for (size_t i = 0; i < picture.PixelCount(); ++i)
        picture.Pixels()[i] = in.ConsumeIntegral<uint32_t>();

    ClipboardExport record;
    record.strTempFolder = g_folder->path();
    record.nProcessId = in.ConsumeIntegral<int64_t>();
    record.nTempCounter = in.ConsumeBool() ? INT_MAX - in.ConsumeIntegralInRange(0, 2)
                                           : in.ConsumeIntegralInRange(0, 5);
    for (int copy = 0; copy < 2; ++copy) {
        record.ReleaseClipboardPayloads();
        record.CreateClipboardBitmap(picture);
        record.EncodePngToMemory(picture);
        record.WriteTempPng();
        record.BuildHtmlFormat();
        record.BuildQQFormats();
        delete record.MakeMimeData();
        if (picture.IsNull()) {
            FUZZ_CHECK(record.hBitmap.isNull() && record.hPng.isEmpty());
            continue;
        }
        FUZZ_CHECK(record.hBitmap.width() == w && record.hBitmap.height() == h);
        FUZZ_CHECK(!record.hBitmap.hasAlphaChannel());  // over white: opaque
        QByteArray png;
        FUZZ_CHECK(EncodePngToMemory(picture, png) == Status::Ok && png == record.hPng);
        if (!record.szTempPath.isEmpty()) {
            FUZZ_CHECK(record.szTempPath.startsWith(QDir::toNativeSeparators(g_folder->path())));
            QFile file(record.szTempPath);
            FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == png);
        }
    }
    record.ReleaseClipboardPayloads();
    FUZZ_CHECK(QDir(g_folder->path()).isEmpty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);  // never destroyed, see the decoding target
    g_folder = new QTemporaryDir;
    return g_folder->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 7);
    if (mode == 0) {
        CopyRecord(in);
        return 0;
    }
    const qint64 pid = in.ConsumeIntegral<qint64>();
    const int counter = in.ConsumeIntegral<int>();
    QString path;
    if (mode <= 3) {
        while (in.remaining_bytes() >= 2 && path.size() < 600)
            path.append(QChar(in.ConsumeIntegral<char16_t>()));
    } else {
        path = QString::fromStdString(in.ConsumeRandomLengthString(600));
        if (mode >= 6) path.prepend(QLatin1Char('/'));
    }
    const QString temp = TempPngPath(path, pid, counter);
    FUZZ_CHECK(temp.endsWith(QStringLiteral("Temp_%1_%2.png").arg(pid).arg(counter)));
    CheckHtml(path);
    CheckHtml(temp);
    CheckQQ(path);
    return 0;
}
