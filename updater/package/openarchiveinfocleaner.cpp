#include "package/openarchiveinfocleaner.h"

#include "package/lib7z.h"
#include "package/openarchiveinfo.h"

namespace Lib7z {

OpenArchiveInfoCleaner::OpenArchiveInfoCleaner(QIODevice *device, QObject *parent)
    : QObject(parent), m_device(device)
{}

// The destroyed object is no longer a QIODevice here, so the record is looked
// up by the pointer remembered at construction.
void OpenArchiveInfoCleaner::deviceDestroyed(QObject *)
{
    delete takeArchiveFor(m_device);
}

} // namespace Lib7z
