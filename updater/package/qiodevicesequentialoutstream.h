#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/IStream.h"
#include "CPP/Common/MyCom.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QPointer>
#include <QString>

namespace Lib7z {

// Where the library writes one extracted item: a QIODevice that the stream
// owns, opened write-only. The device is closed and deleted with the stream;
// close() does it earlier and says whether the last bytes reached the disk.
class QIODeviceSequentialOutStream final : public ISequentialOutStream, public CMyUnknownImp
{
    Q_DECLARE_TR_FUNCTIONS(QIODeviceSequentialOutStream)
    Z7_COM_UNKNOWN_IMP_1(ISequentialOutStream)

public:
    explicit QIODeviceSequentialOutStream(QIODevice *device);
    ~QIODeviceSequentialOutStream();

    // Writes everything or fails with processed 0 and the device's error text.
    Z7_COM7F_IMP(Write(const void *data, UInt32 size, UInt32 *processedSize))

    // Flushes and closes the device; false keeps the device's error text.
    bool close();

    bool hasError() const { return !m_errorString.isEmpty(); }
    QString errorString() const { return m_errorString; }

private:
    Z7_CLASS_NO_COPY(QIODeviceSequentialOutStream)

    bool openIfClosed();
    void keepDeviceError(const QString &fallback);

    QPointer<QIODevice> m_device;
    QString m_errorString;
};

} // namespace Lib7z
