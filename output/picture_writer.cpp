#include "picture_writer.h"

#include <QFile>
#if FACETTA_OUTPUT_QT_GUI
#include <QImageWriter>
#endif

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "atomic_file.h"
#include "encoders.h"
#include "parallel.h"
#if FACETTA_OUTPUT_QT_GUI
#include "picture_image.h"
#endif

bool IsOpaque(const Picture& picture) {
    const uint32_t* p = picture.Pixels();
    const size_t n = picture.PixelCount();
    // In blocks, so that the inner loop vectorises and a translucent picture stops early.
    constexpr size_t kBlock = 4096;
    for (size_t start = 0; start < n; start += kBlock) {
        const size_t end = n - start < kBlock ? n : start + kBlock;
        uint32_t all = 0xFF000000u;
        for (size_t i = start; i < end; ++i) all &= p[i];
        if ((all & 0xFF000000u) != 0xFF000000u) return false;
    }
    return true;
}

WholePictureBands::WholePictureBands(const Picture& picture)
    : m_picture(picture), m_opaque(IsOpaque(picture)) {}

int EncoderThreadCount() {
    return WorkerThreadCount();
}

bool EncoderTakesBands(ImageEncoderId encoder) {
    return encoder == ImageEncoderId::Png || encoder == ImageEncoderId::Bmp ||
           encoder == ImageEncoderId::Jpeg;
}

namespace {

// Straight to the file descriptor, in large blocks.
class FdSink : public ByteSink {
public:
    explicit FdSink(int fd) : m_fd(fd) {}
    bool Write(const void* data, size_t size) override {
        if (m_errno) return false;
        const char* p = static_cast<const char*>(data);
        if (m_used + size > sizeof m_buffer) {
            if (!Flush()) return false;
            if (size >= sizeof m_buffer) return WriteAll(p, size);
        }
        std::memcpy(m_buffer + m_used, p, size);
        m_used += size;
        return true;
    }
    bool Flush() {
        const bool ok = WriteAll(m_buffer, m_used);
        m_used = 0;
        return ok;
    }
    int Errno() const { return m_errno; }

private:
    bool WriteAll(const char* p, size_t size) {
        while (size > 0 && !m_errno) {
            const ssize_t n = ::write(m_fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_errno = n < 0 ? errno : EIO;
                break;
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        return m_errno == 0;
    }

    int m_fd;
    int m_errno = 0;
    size_t m_used = 0;
    char m_buffer[64 * 1024];
};

class ByteArraySink : public ByteSink {
public:
    explicit ByteArraySink(QByteArray& out) : m_out(out) {}
    // Must not throw: it is called from inside libpng.
    bool Write(const void* data, size_t size) override {
        try {
            m_out.append(static_cast<const char*>(data), static_cast<qsizetype>(size));
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

private:
    QByteArray& m_out;
};

bool EncoderAvailable(ImageEncoderId id) {
#if !FACETTA_OUTPUT_QT_GUI
    if (id == ImageEncoderId::Webp) return false;  // Qt's writer
#endif
    ImageEncoderId found{};
    return FindImageEncoder(MimeTypeOfEncoder(id), &found) >= 0 && found == id;
}

#if FACETTA_OUTPUT_QT_GUI

// Hands Qt's writers the file while keeping the errno of a failed write, which the file
// itself only reports as an enum.
class ErrnoKeepingDevice : public QIODevice {
public:
    explicit ErrnoKeepingDevice(QIODevice& target) : m_target(target) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    int Errno() const { return m_errno; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        errno = 0;
        const qint64 n = m_target.write(data, size);
        if (n != size && m_errno == 0) m_errno = errno ? errno : EIO;
        return n;
    }

private:
    QIODevice& m_target;
    int m_errno = 0;
};

// WebP goes through Qt's writer.
Status EncodeWithQt(const Picture& picture, QFileDevice& file, const char* format, int quality,
                    int* writeErrno) {
    ErrnoKeepingDevice device(file);
    QImageWriter writer(&device, format);
    writer.setQuality(qBound(1, quality, 100));
    const QImage image = PictureAsImage(picture);
    const bool ok = writer.write(image);
    *writeErrno = device.Errno();
    if (ok && *writeErrno == 0) return Status::Ok;
    return *writeErrno != 0 || file.error() != QFileDevice::NoError ? Status::Win32Error
                                                                    : Status::GenericError;
}
#endif

}  // namespace

int MaxSideOfFormat(ImageEncoderId encoder) {
    switch (encoder) {
        case ImageEncoderId::Gif:
            return 65535;  // 16-bit sizes in the file
        case ImageEncoderId::Jpeg:
            return 65500;  // libjpeg's limit, a little under the file's 16 bits
        case ImageEncoderId::Webp:
            return 16383;  // 14-bit sizes
        case ImageEncoderId::Png:
        case ImageEncoderId::Bmp:
            break;  // 31 bits: no picture we can hold is larger
    }
    return 0;
}

bool FitsFormat(ImageEncoderId encoder, int width, int height) {
    const int max = MaxSideOfFormat(encoder);
    return max == 0 || (width <= max && height <= max);
}

namespace {

// The atomic write around an encoder: `encode` fills the file through the sink (or, for Qt's
// writers, the file's descriptor, reporting a failed write's errno in its last argument).
template <typename Encode>
Status WriteAtomically(const QString& path, int* osError, Encode&& encode) {
    auto fail = [osError](int err) {
        if (osError) *osError = err;
        return Status::Win32Error;
    };
    if (path.isEmpty()) return fail(ENOENT);

    AtomicFile file;
    if (const int err = file.Open(path)) return fail(err);

    FdSink sink(file.Descriptor());
    int qtWriteErrno = 0;
    const Status encoded = encode(file, sink, qtWriteErrno);
    const Status status = encoded == Status::Ok && !sink.Flush() ? Status::Win32Error : encoded;
    if (status != Status::Ok) {
        const int err = sink.Errno() ? sink.Errno() : qtWriteErrno ? qtWriteErrno : EIO;
        file.Cancel();
        if (status == Status::Win32Error) return fail(err);
        return status;
    }
    if (const int err = file.Commit()) return fail(err);
    return Status::Ok;
}

}  // namespace

Status WritePicture(const Picture& picture, const QString& path, ImageEncoderId encoder,
                    int quality, int* osError) {
    if (osError) *osError = 0;
    if (picture.IsNull()) return Status::InvalidParameter;
    if (!EncoderAvailable(encoder)) return Status::UnknownImageFormat;
    if (!FitsFormat(encoder, picture.Width(), picture.Height())) return Status::ValueOverflow;
    return WriteAtomically(path, osError, [&](AtomicFile& file, FdSink& sink, int& qtWriteErrno) {
        switch (encoder) {
            case ImageEncoderId::Png:
                return EncodePng(picture, sink, DefaultPngTuning());
            case ImageEncoderId::Gif:
                return EncodeGif(picture, sink);
            case ImageEncoderId::Bmp:
                return EncodeBmp(picture, sink);
            case ImageEncoderId::Jpeg:
                return EncodeJpeg(WholePictureBands(picture), sink, quality);
            case ImageEncoderId::Webp: {
#if FACETTA_OUTPUT_QT_GUI
                QFile qtFile;
                if (!qtFile.open(file.Descriptor(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                                 QFileDevice::DontCloseHandle)) {
                    qtWriteErrno = EIO;
                    return Status::Win32Error;
                }
                return EncodeWithQt(picture, qtFile, "webp", quality, &qtWriteErrno);
#else
                (void)file;
                (void)quality;
                (void)qtWriteErrno;
                return Status::UnknownImageFormat;  // refused above: EncoderAvailable
#endif
            }
        }
        return Status::GenericError;
    });
}

Status WritePictureBands(const PictureBands& picture, const QString& path, ImageEncoderId encoder,
                         int quality, int* osError) {
    if (osError) *osError = 0;
    if (picture.Width() <= 0 || picture.Height() <= 0) return Status::InvalidParameter;
    if (!EncoderTakesBands(encoder)) return Status::UnknownImageFormat;
    return WriteAtomically(path, osError, [&](AtomicFile&, FdSink& sink, int&) {
        switch (encoder) {
            case ImageEncoderId::Png:
                return EncodePng(picture, sink, DefaultPngTuning());
            case ImageEncoderId::Jpeg:
                return EncodeJpeg(picture, sink, quality);
            default:
                return EncodeBmp(picture, sink);
        }
    });
}

Status WriteFileBytes(const QString& path, const QByteArray& bytes, int* osError) {
    if (osError) *osError = 0;
    return WriteAtomically(path, osError, [&](AtomicFile&, FdSink& sink, int&) {
        return sink.Write(bytes.constData(), static_cast<size_t>(bytes.size()))
                   ? Status::Ok
                   : Status::Win32Error;
    });
}

QString WriteFailureText(const QString& path, Status status, int osError, ImageEncoderId encoder) {
    if (status == Status::ValueOverflow)
        return QStringLiteral("%1 pictures can be at most %2 pixels wide and high")
            .arg(encoder == ImageEncoderId::Gif    ? QStringLiteral("GIF")
                 : encoder == ImageEncoderId::Jpeg ? QStringLiteral("JPEG")
                                                   : QStringLiteral("WebP"))
            .arg(MaxSideOfFormat(encoder));
    if (status != Status::Win32Error) return QStringLiteral("encoder failed");
    switch (AtomicFile::Examine(path)) {
        case WriteRefusal::ProtectedLink:
            return QStringLiteral("it is another user's link in a shared folder, not followed");
        case WriteRefusal::Device:
            return QStringLiteral("a device is in the file's place");
        case WriteRefusal::Pipe:
            return QStringLiteral("a named pipe is in the file's place");
        case WriteRefusal::Socket:
            return QStringLiteral("a socket is in the file's place");
        case WriteRefusal::Folder:
        case WriteRefusal::None:
            break;
    }
    return osError ? QString::fromLocal8Bit(std::strerror(osError))
                   : QStringLiteral("unknown error");
}

namespace {

// `encode` into `out`, which is left empty unless it succeeds.
template <typename Encode>
Status EncodeToMemory(QByteArray& out, Encode&& encode) {
    out.clear();
    ByteArraySink sink(out);
    Status status = encode(sink);
    if (status == Status::Win32Error) status = Status::OutOfMemory;  // the only way memory refuses
    if (status != Status::Ok) out.clear();
    return status;
}

}  // namespace

Status EncodePngToMemory(const Picture& picture, QByteArray& out, const PngTuning& tuning) {
    return EncodeToMemory(out, [&](ByteSink& sink) { return EncodePng(picture, sink, tuning); });
}

Status EncodeGifToMemory(const Picture& picture, QByteArray& out, const GifTuning& tuning) {
    return EncodeToMemory(out, [&](ByteSink& sink) { return EncodeGif(picture, sink, tuning); });
}

Status EncodePngToMemory(const Picture& picture, QByteArray& out) {
    return EncodePngToMemory(picture, out, DefaultPngTuning());
}
