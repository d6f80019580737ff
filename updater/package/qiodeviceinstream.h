#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/IStream.h"
#include "CPP/Common/MyCom.h"

#include <QIODevice>
#include <QPointer>
#include <memory>

namespace Lib7z {

// An input for the library: reads and seeks on a QIODevice that someone else
// owns and that may go away first (reads then fail), or on one that the
// stream owns and deletes with itself.
class QIODeviceInStream final : public IInStream, public CMyUnknownImp
{
    Z7_COM_UNKNOWN_IMP_2(ISequentialInStream, IInStream)

public:
    explicit QIODeviceInStream(QIODevice *device);
    explicit QIODeviceInStream(std::unique_ptr<QIODevice> device);

    // Fails only when the device reports an error (or is gone).
    Z7_COM7F_IMP(Read(void *data, UInt32 size, UInt32 *processedSize))
    // Begin (0), current (1) or end (2); the library finds an archive's size by
    // seeking to the end, and it may seek past the end, where reads give nothing.
    Z7_COM7F_IMP(Seek(Int64 offset, UInt32 seekOrigin, UInt64 *newPosition))

private:
    Z7_CLASS_NO_COPY(QIODeviceInStream)

    std::unique_ptr<QIODevice> m_ownedDevice;
    QPointer<QIODevice> m_device;
    // How far a seek went past the end of the device.
    quint64 m_pastEnd = 0;
};

} // namespace Lib7z
