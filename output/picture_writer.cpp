#include "picture_writer.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <thread>

#include "encoders.h"
#include "picture_image.h"

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
    if (const char* env = std::getenv("FACETTA_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n > 0) return static_cast<int>(std::min(n, 256L));
    }
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
}

bool EncoderTakesBands(ImageEncoderId encoder) {
    return encoder == ImageEncoderId::Png || encoder == ImageEncoderId::Bmp;
}

namespace {

class DeviceSink : public ByteSink {
public:
    explicit DeviceSink(QIODevice& device) : m_device(device) {}
    bool Write(const void* data, size_t size) override {
        errno = 0;
        const qint64 n = m_device.write(static_cast<const char*>(data), static_cast<qint64>(size));
        if (n == static_cast<qint64>(size)) return true;
        m_errno = errno;
        return false;
    }
    int Errno() const { return m_errno; }

private:
    QIODevice& m_device;
    int m_errno = 0;
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

// Qt reports file errors as its own enum; when errno no longer says what went wrong, give
// the closest errno.
int ErrnoFor(const QFileDevice& file, int observed) {
    if (observed != 0) return observed;
    switch (file.error()) {
        case QFileDevice::ResourceError: return ENOSPC;
        case QFileDevice::PermissionsError: return EPERM;
        case QFileDevice::OpenError:
        case QFileDevice::RenameError: return EACCES;
        default: return EIO;
    }
}

bool EncoderAvailable(ImageEncoderId id) {
    ImageEncoderId found{};
    return FindImageEncoder(MimeTypeOfEncoder(id), &found) >= 0 && found == id;
}

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

// JPEG and WebP go through Qt's writers.
Status EncodeWithQt(const Picture& picture, QFileDevice& file, const char* format, int quality,
                    int* writeErrno) {
    ErrnoKeepingDevice device(file);
    QImageWriter writer(&device, format);
    writer.setQuality(qBound(1, quality, 100));
    const bool ok = writer.write(PictureAsImage(picture));
    *writeErrno = device.Errno();
    if (ok && *writeErrno == 0) return Status::Ok;
    return *writeErrno != 0 || file.error() != QFileDevice::NoError ? Status::Win32Error
                                                                     : Status::GenericError;
}

// The atomic write around an encoder: `encode` fills the file through the sink (or, for
// Qt's writers, the file itself, reporting a failed write's errno in its last argument).
template <typename Encode>
Status WriteAtomically(const QString& path, int* osError, Encode&& encode) {
    auto fail = [osError](int err) {
        if (osError) *osError = err;
        return Status::Win32Error;
    };
    if (path.isEmpty()) return fail(ENOENT);
    // QSaveFile says why in words only for these two.
    const QFileInfo existing(path);
    if (existing.isDir()) return fail(EISDIR);
    // A device, pipe or socket in the file's place would be swapped for a regular file by the
    // atomic replace (or, written directly, could block for ever): refuse it.
    if (existing.exists() && !existing.isFile()) return fail(EINVAL);
    if (existing.exists() && !existing.isWritable()) return fail(EACCES);

    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) return fail(ErrnoFor(file, errno));

    DeviceSink sink(file);
    int qtWriteErrno = 0;
    const Status status = encode(file, sink, qtWriteErrno);
    if (status != Status::Ok) {
        const int err = ErrnoFor(file, sink.Errno() ? sink.Errno() : qtWriteErrno);
        file.cancelWriting();
        if (status == Status::Win32Error) return fail(err);
        return status;
    }
    errno = 0;
    if (!file.commit()) return fail(ErrnoFor(file, errno));
    return Status::Ok;
}

}  // namespace

Status WritePicture(const Picture& picture, const QString& path, ImageEncoderId encoder,
                    int quality, int* osError) {
    if (osError) *osError = 0;
    if (picture.IsNull()) return Status::InvalidParameter;
    if (!EncoderAvailable(encoder)) return Status::UnknownImageFormat;
    return WriteAtomically(
        path, osError, [&](QSaveFile& file, DeviceSink& sink, int& qtWriteErrno) {
            switch (encoder) {
                case ImageEncoderId::Png:
                    return EncodePng(picture, sink, DefaultPngTuning());
                case ImageEncoderId::Gif:
                    return EncodeGif(picture, sink);
                case ImageEncoderId::Bmp:
                    return EncodeBmp(picture, sink);
                case ImageEncoderId::Jpeg:
                    return EncodeWithQt(picture, file, "jpeg", quality, &qtWriteErrno);
                case ImageEncoderId::Webp:
                    return EncodeWithQt(picture, file, "webp", quality, &qtWriteErrno);
            }
            return Status::GenericError;
        });
}

Status WritePictureBands(const PictureBands& picture, const QString& path, ImageEncoderId encoder,
                         int* osError) {
    if (osError) *osError = 0;
    if (picture.Width() <= 0 || picture.Height() <= 0) return Status::InvalidParameter;
    if (!EncoderTakesBands(encoder)) return Status::UnknownImageFormat;
    return WriteAtomically(path, osError, [&](QSaveFile&, DeviceSink& sink, int&) {
        return encoder == ImageEncoderId::Png ? EncodePng(picture, sink, DefaultPngTuning())
                                              : EncodeBmp(picture, sink);
    });
}

Status EncodePngToMemory(const Picture& picture, QByteArray& out, const PngTuning& tuning) {
    out.clear();
    ByteArraySink sink(out);
    Status status = EncodePng(picture, sink, tuning);
    if (status == Status::Win32Error) status = Status::OutOfMemory;  // the only way memory refuses
    if (status != Status::Ok) out.clear();
    return status;
}

Status EncodePngToMemory(const Picture& picture, QByteArray& out) {
    return EncodePngToMemory(picture, out, DefaultPngTuning());
}
