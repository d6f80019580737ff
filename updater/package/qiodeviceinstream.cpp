#include "package/qiodeviceinstream.h"

#include "package/seektarget.h"

#include <QDebug>

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
    qint64 target = 0;
    const HRESULT reached =
        seekTarget(offset, seekOrigin, m_device->pos() + qint64(m_pastEnd), size, &target);
    if (reached != S_OK)
        return reached;
    // A device may refuse to seek past its end: it stays at the end then.
    if (!m_device->seek(qMin(target, size)))
        return E_FAIL;
    m_pastEnd = quint64(qMax<qint64>(target - size, 0));
    if (newPosition)
        *newPosition = UInt64(target);
    return S_OK;
}

} // namespace Lib7z
