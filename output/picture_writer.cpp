#include "picture_writer.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <new>

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
        case QFileDevice::ResourceError:
            return ENOSPC;
        case QFileDevice::PermissionsError:
            return EPERM;
        case QFileDevice::OpenError:
        case QFileDevice::RenameError:
            return EACCES;
        default:
            return EIO;
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
    QImage image = PictureAsImage(picture);
    // JPEG has no alpha: a picture with transparent parts goes over white, as on paper.
    if (std::strcmp(format, "jpeg") == 0 && !IsOpaque(picture)) {
        QImage flat(image.size(), QImage::Format_RGB32);
        if (flat.isNull()) return Status::OutOfMemory;
        flat.setDotsPerMeterX(image.dotsPerMeterX());
        flat.setDotsPerMeterY(image.dotsPerMeterY());
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
        painter.end();
        image = flat;
    }
    const bool ok = writer.write(image);
    *writeErrno = device.Errno();
    if (ok && *writeErrno == 0) return Status::Ok;
    return *writeErrno != 0 || file.error() != QFileDevice::NoError ? Status::Win32Error
                                                                    : Status::GenericError;
}

}  // namespace

Status WritePicture(const Picture& picture, const QString& path, ImageEncoderId encoder,
                    int quality, int* osError) {
    if (osError) *osError = 0;
    if (picture.IsNull()) return Status::InvalidParameter;
    if (!EncoderAvailable(encoder)) return Status::UnknownImageFormat;
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
    Status status = Status::GenericError;
    switch (encoder) {
        case ImageEncoderId::Png:
            status = EncodePng(picture, sink, DefaultPngTuning());
            break;
        case ImageEncoderId::Gif:
            status = EncodeGif(picture, sink);
            break;
        case ImageEncoderId::Bmp:
            status = EncodeBmp(picture, sink);
            break;
        case ImageEncoderId::Jpeg:
            status = EncodeWithQt(picture, file, "jpeg", quality, &qtWriteErrno);
            break;
        case ImageEncoderId::Webp:
            status = EncodeWithQt(picture, file, "webp", quality, &qtWriteErrno);
            break;
    }
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
