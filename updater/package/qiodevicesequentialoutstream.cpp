#include "package/qiodevicesequentialoutstream.h"

#include <QFileDevice>

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

Z7_COM7F_IMF(QIODeviceSequentialOutStream::Write(const void *data, UInt32 size,
                                                 UInt32 *processedSize))
{
    if (processedSize)
        *processedSize = 0;
    if (!m_device) {
        m_errorString = tr("No device set for output stream");
        return E_FAIL;
    }
    if (!openIfClosed())
        return E_FAIL;
    // A write that falls short (a disk with a little room left) is tried on:
    // the next one fails with the system's reason.
    qint64 written = 0;
    for (qint64 chunk = 0; written < qint64(size); written += chunk) {
        chunk = m_device->write(static_cast<const char *>(data) + written, qint64(size) - written);
        if (chunk <= 0)
            break;
    }
    if (written != qint64(size)) {
        keepDeviceError(tr("Only %1 of %2 bytes written").arg(written).arg(size));
        return E_FAIL;
    }
    if (processedSize)
        *processedSize = size;
    m_errorString.clear();
    return S_OK;
}

bool QIODeviceSequentialOutStream::close()
{
    if (!m_device || !m_device->isOpen())
        return !hasError();
    // A file device keeps the last bytes in its buffer: writing them out is
    // where a full disk shows, and closing would swallow that error.
    const auto file = qobject_cast<QFileDevice *>(m_device);
    if (file && !file->flush()) {
        keepDeviceError(tr("Could not flush the file"));
        file->close();
        return false;
    }
    m_device->close();
    if (file && file->error() != QFileDevice::NoError) {
        keepDeviceError(tr("Could not close the file"));
        return false;
    }
    return !hasError();
}

bool QIODeviceSequentialOutStream::openIfClosed()
{
    if (m_device->isOpen())
        return true;
    if (m_device->open(QIODevice::WriteOnly))
        return true;
    keepDeviceError(tr("Could not open the device"));
    return false;
}

void QIODeviceSequentialOutStream::keepDeviceError(const QString &fallback)
{
    m_errorString = m_device->errorString();
    // Qt's default text says nothing about what happened.
    if (m_errorString.isEmpty() || m_errorString == QLatin1String("Unknown error"))
        m_errorString = fallback;
}

} // namespace Lib7z
