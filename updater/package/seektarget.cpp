#include "package/seektarget.h"

#include <limits>

namespace Lib7z {

HRESULT seekTarget(Int64 offset, UInt32 origin, qint64 current, qint64 end, qint64 *target)
{
    qint64 base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        base = current;
        break;
    case STREAM_SEEK_END:
        base = end;
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    if (offset < 0 ? base < -offset : offset > std::numeric_limits<qint64>::max() - base)
        return offset < 0 ? HRESULT_WIN32_ERROR_NEGATIVE_SEEK : E_INVALIDARG;
    *target = base + offset;
    return S_OK;
}

} // namespace Lib7z
