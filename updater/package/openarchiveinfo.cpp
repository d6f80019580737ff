#include "openarchiveinfo.h"

#include "openarchiveinfocleaner.h"
#include "qiodeviceinstream.h"

#include <archive.h>

namespace Lib7z {

OpenArchiveInfo::OpenArchiveInfo() = default;

OpenArchiveInfo::~OpenArchiveInfo()
{
    if (cleaner)
        cleaner->deleteLater();
    if (arc)
        archive_read_free(arc);
    inStream.reset();
}

} // namespace Lib7z
