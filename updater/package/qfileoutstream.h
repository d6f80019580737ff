#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/IStream.h"
#include "CPP/Common/MyCom.h"

#include <QFileDevice>
#include <QPointer>

namespace Lib7z {

// Where the library writes an archive: a file opened for writing that someone
// else owns. The 7z writer seeks back to fill in the start header at the end.
class QFileOutStream final : public IOutStream, public CMyUnknownImp
{
    Z7_COM_UNKNOWN_IMP_2(ISequentialOutStream, IOutStream)

public:
    explicit QFileOutStream(QFileDevice *file);

    Z7_COM7F_IMP(Write(const void *data, UInt32 size, UInt32 *processedSize))
    // Begin (0), current (1) or end (2).
    Z7_COM7F_IMP(Seek(Int64 offset, UInt32 seekOrigin, UInt64 *newPosition))
    Z7_COM7F_IMP(SetSize(UInt64 newSize))

private:
    Z7_CLASS_NO_COPY(QFileOutStream)

    QPointer<QFileDevice> m_file;
};

} // namespace Lib7z
