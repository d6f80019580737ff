#include "packetitem.h"

#include <QFileInfo>

PacketItem PacketItem::folder(const QString &name)
{
    PacketItem item;
    item.name = name;
    item.permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                       QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser |
                       QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                       QFileDevice::ExeOther;
    return item;
}

PacketItem PacketItem::file(const QString &name, const QString &sourcePath)
{
    const QFileInfo info(sourcePath);
    PacketItem item;
    item.name = name;
    item.sourcePath = sourcePath;
    item.size = info.size();
    item.modified = info.lastModified();
    item.permissions = info.permissions();
    return item;
}
