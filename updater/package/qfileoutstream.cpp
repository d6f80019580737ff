#include "package/qfileoutstream.h"

#include "package/seektarget.h"

#include <limits>

namespace Lib7z {

QFileOutStream::QFileOutStream(QFileDevice *file) : m_file(file) {}

Z7_COM7F_IMF(QFileOutStream::Write(const void *data, UInt32 size, UInt32 *processedSize))
{
    if (processedSize)
        *processedSize = 0;
    if (!m_file)
        return E_FAIL;
    const qint64 written = m_file->write(static_cast<const char *>(data), qint64(size));
    if (written != qint64(size))
        return E_FAIL;
    if (processedSize)
        *processedSize = size;
    return S_OK;
}

Z7_COM7F_IMF(QFileOutStream::Seek(Int64 offset, UInt32 seekOrigin, UInt64 *newPosition))
{
    if (!m_file)
        return E_FAIL;
    qint64 target = 0;
    const HRESULT reached = seekTarget(offset, seekOrigin, m_file->pos(), m_file->size(), &target);
    if (reached != S_OK)
        return reached;
    // A file may be sought past its end; writing there fills the gap.
    if (!m_file->seek(target))
        return E_FAIL;
    if (newPosition)
        *newPosition = UInt64(target);
    return S_OK;
}

Z7_COM7F_IMF(QFileOutStream::SetSize(UInt64 newSize))
{
    if (!m_file || newSize > UInt64(std::numeric_limits<qint64>::max()))
        return E_FAIL;
    return m_file->resize(qint64(newSize)) ? S_OK : E_FAIL;
}

} // namespace Lib7z
