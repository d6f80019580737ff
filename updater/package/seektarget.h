#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/IStream.h"

#include <QtGlobal>

namespace Lib7z {

// Where a seek of the library's streams lands: `offset` from the start, from
// `current` or from `end`, as `origin` (STREAM_SEEK_SET, _CUR, _END) says. S_OK
// with `*target`, or the status the library expects for a bad origin, a
// position before the start or one past the largest file position.
HRESULT seekTarget(Int64 offset, UInt32 origin, qint64 current, qint64 end, qint64 *target);

} // namespace Lib7z
