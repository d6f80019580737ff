#include "qiodevicesequentialoutstream.h"

namespace Lib7z {

QIODeviceSequentialOutStream::QIODeviceSequentialOutStream(QIODevice *device) : m_device(device)
{
    if (m_device)
        openIfClosed();
}

QIODeviceSequentialOutStream::~QIODeviceSequentialOutStream()
{
    if (!m_device)
        return;
    m_device->close();
    delete m_device;
}

bool QIODeviceSequentialOutStream::write(const void *data, quint64 size, quint64 *processed)
{
    if (processed)
        *processed = 0;
    if (!m_device) {
        m_errorString = tr("No device set for output stream");
        return false;
    }
    if (!openIfClosed())
        return false;
    const qint64 written = m_device->write(static_cast<const char *>(data), qint64(size));
    if (written < 0) {
        m_errorString = m_device->errorString();
        return false;
    }
    if (processed)
        *processed = quint64(written);
    m_errorString.clear();
    return true;
}

bool QIODeviceSequentialOutStream::openIfClosed()
{
    if (m_device->isOpen())
        return true;
    if (m_device->open(QIODevice::WriteOnly))
        return true;
    m_errorString = m_device->errorString();
    return false;
}

} // namespace Lib7z
