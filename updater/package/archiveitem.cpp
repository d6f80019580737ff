#include "package/archiveitem.h"

#include <QFileInfo>

namespace Lib7z {

ArchiveItem ArchiveItem::folder(const QString &name)
{
    ArchiveItem item;
    item.name = name;
    item.permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                       QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser |
                       QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                       QFileDevice::ExeOther;
    return item;
}

ArchiveItem ArchiveItem::file(const QString &name, const QString &sourcePath)
{
    const QFileInfo info(sourcePath);
    ArchiveItem item;
    item.name = name;
    item.sourcePath = sourcePath;
    item.size = info.size();
    item.modified = info.lastModified();
    item.permissions = info.permissions();
    return item;
}

} // namespace Lib7z
