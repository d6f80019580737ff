#include "package/qiodeviceinstream.h"

#include <QDebug>
#include <limits>

namespace Lib7z {

QIODeviceInStream::QIODeviceInStream(QIODevice *device) : m_device(device) {}

QIODeviceInStream::QIODeviceInStream(std::unique_ptr<QIODevice> device)
    : m_ownedDevice(std::move(device)), m_device(m_ownedDevice.get())
{}

Z7_COM7F_IMF(QIODeviceInStream::Read(void *data, UInt32 size, UInt32 *processedSize))
{
    if (processedSize)
        *processedSize = 0;
    if (!m_device) {
        qDebug() << "Could not read the archive: its device is gone";
        return E_FAIL;
    }
    if (m_pastEnd > 0 || size == 0)
        return S_OK;
    const qint64 count = m_device->read(static_cast<char *>(data), qint64(size));
    if (count < 0) {
        qDebug() << "Could not read the archive:" << m_device->errorString();
        return E_FAIL;
    }
    if (processedSize)
        *processedSize = UInt32(count);
    return S_OK;
}

Z7_COM7F_IMF(QIODeviceInStream::Seek(Int64 offset, UInt32 seekOrigin, UInt64 *newPosition))
{
    if (!m_device)
        return E_FAIL;
    const qint64 size = m_device->size();
    qint64 base = 0;
    switch (seekOrigin) {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        base = m_device->pos() + qint64(m_pastEnd);
        break;
    case STREAM_SEEK_END:
        base = size;
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    if (offset < 0 ? base < -offset : offset > std::numeric_limits<qint64>::max() - base)
        return offset < 0 ? HRESULT_WIN32_ERROR_NEGATIVE_SEEK : E_INVALIDARG;
    const qint64 target = base + offset;
    // A device may refuse to seek past its end: it stays at the end then.
    if (!m_device->seek(qMin(target, size)))
        return E_FAIL;
    m_pastEnd = quint64(qMax<qint64>(target - size, 0));
    if (newPosition)
        *newPosition = UInt64(target);
    return S_OK;
}

} // namespace Lib7z
