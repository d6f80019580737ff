#pragma once

#include <QDateTime>
#include <QFileDevice>
#include <QString>

// One item of a packet: a folder, or a file whose bytes come from sourcePath.
// The time and the permissions are stored with it, and the updater's
// extraction puts them on the unpacked item.
struct PacketItem
{
    QString name;       // path inside the packet, "/"-separated
    QString sourcePath; // empty for a folder
    qint64 size = 0;
    QDateTime modified; // none stored when invalid
    QFileDevice::Permissions permissions;

    bool isFolder() const { return sourcePath.isEmpty(); }

    static PacketItem folder(const QString &name);
    // A file with its own time and permissions.
    static PacketItem file(const QString &name, const QString &sourcePath);
};
