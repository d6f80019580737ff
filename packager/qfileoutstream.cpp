#include "qfileoutstream.h"

#include <limits>

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
    qint64 base = 0;
    switch (seekOrigin) {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        base = m_file->pos();
        break;
    case STREAM_SEEK_END:
        base = m_file->size();
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    if (offset < 0 ? base < -offset : offset > std::numeric_limits<qint64>::max() - base)
        return offset < 0 ? HRESULT_WIN32_ERROR_NEGATIVE_SEEK : E_INVALIDARG;
    // A file may be sought past its end; writing there fills the gap.
    if (!m_file->seek(base + offset))
        return E_FAIL;
    if (newPosition)
        *newPosition = UInt64(base + offset);
    return S_OK;
}

Z7_COM7F_IMF(QFileOutStream::SetSize(UInt64 newSize))
{
    if (!m_file || newSize > UInt64(std::numeric_limits<qint64>::max()))
        return E_FAIL;
    return m_file->resize(qint64(newSize)) ? S_OK : E_FAIL;
}
