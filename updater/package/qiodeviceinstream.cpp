#include "qiodeviceinstream.h"

#include <limits>

namespace Lib7z {

namespace {
const int readBufferSize = 256 * 1024;
}

QIODeviceInStream::QIODeviceInStream(QIODevice *device) : m_device(device) {}

bool QIODeviceInStream::read(void *data, quint32 size, quint32 *processed)
{
    *processed = 0;
    if (!m_device)
        return false;
    const qint64 count = m_device->read(static_cast<char *>(data), size);
    if (count < 0)
        return false;
    *processed = quint32(count);
    return true;
}

bool QIODeviceInStream::seek(qint64 offset, int origin, quint64 *newPosition)
{
    if (!m_device)
        return false;
    quint64 target = 0;
    switch (origin) {
    case Begin:
        target = quint64(offset);
        break;
    case Current:
        target = quint64(m_device->pos()) + quint64(offset);
        break;
    case End:
        target = quint64(m_device->size()) + quint64(offset);
        break;
    default:
        return false;
    }
    target = qMin(target, quint64(m_device->size()) - 1);
    const bool sought =
        target <= quint64(std::numeric_limits<qint64>::max()) && m_device->seek(qint64(target));
    if (newPosition)
        *newPosition = target;
    return sought;
}

qint64 QIODeviceInStream::skip(qint64 request)
{
    if (!m_device || request <= 0)
        return 0;
    const qint64 step = qMin(request, m_device->size() - m_device->pos());
    if (step <= 0 || !m_device->seek(m_device->pos() + step))
        return 0;
    return step;
}

void QIODeviceInStream::attachTo(archive *arc)
{
    archive_read_set_callback_data(arc, this);
    archive_read_set_open_callback(arc, openCallback);
    archive_read_set_read_callback(arc, readCallback);
    archive_read_set_skip_callback(arc, skipCallback);
    archive_read_set_seek_callback(arc, seekCallback);
}

// The archive starts at the beginning of the device, whatever was read from it
// before (a second extraction from the same device reads it again).
int QIODeviceInStream::openCallback(archive *arc, void *self)
{
    QIODevice *device = static_cast<QIODeviceInStream *>(self)->m_device;
    if (device && device->pos() != 0 && !device->seek(0)) {
        archive_set_error(arc, EIO, "%s", qPrintable(device->errorString()));
        return ARCHIVE_FATAL;
    }
    return ARCHIVE_OK;
}

la_ssize_t QIODeviceInStream::readCallback(archive *arc, void *self, const void **buffer)
{
    auto stream = static_cast<QIODeviceInStream *>(self);
    stream->m_buffer.resize(readBufferSize);
    quint32 processed = 0;
    if (!stream->read(stream->m_buffer.data(), readBufferSize, &processed)) {
        archive_set_error(arc, EIO, "%s",
                          stream->m_device ? qPrintable(stream->m_device->errorString())
                                           : "The archive's device is gone");
        return ARCHIVE_FATAL;
    }
    *buffer = stream->m_buffer.constData();
    return processed;
}

la_int64_t QIODeviceInStream::skipCallback(archive *, void *self, la_int64_t request)
{
    return static_cast<QIODeviceInStream *>(self)->skip(request);
}

la_int64_t QIODeviceInStream::seekCallback(archive *, void *self, la_int64_t offset, int whence)
{
    quint64 position = 0;
    if (!static_cast<QIODeviceInStream *>(self)->seek(offset, whence, &position))
        return ARCHIVE_FATAL;
    return la_int64_t(position);
}

} // namespace Lib7z
