#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QPointer>
#include <archive.h>

namespace Lib7z {

// The archive's input: reads, skips and seeks on a QIODevice that someone else
// owns, and feeds libarchive through its read, skip and seek callbacks.
class QIODeviceInStream
{
public:
    enum Origin
    {
        Begin = 0,
        Current = 1,
        End = 2
    };

    explicit QIODeviceInStream(QIODevice *device);

    // Fails only when the device reports an error (or is gone).
    bool read(void *data, quint32 size, quint32 *processed);
    // A seek is clamped to the last byte of the device, so seeking to the very
    // end reports the position of the last byte. An unknown origin fails.
    bool seek(qint64 offset, int origin, quint64 *newPosition);
    // Skips forward without passing the end; returns the bytes skipped.
    qint64 skip(qint64 request);

    // Installs the callbacks on an archive that is not opened yet.
    void attachTo(archive *arc);

private:
    Q_DISABLE_COPY(QIODeviceInStream)

    static int openCallback(archive *arc, void *self);
    static la_ssize_t readCallback(archive *arc, void *self, const void **buffer);
    static la_int64_t skipCallback(archive *arc, void *self, la_int64_t request);
    static la_int64_t seekCallback(archive *arc, void *self, la_int64_t offset, int whence);

    QPointer<QIODevice> m_device;
    QByteArray m_buffer;
};

} // namespace Lib7z
