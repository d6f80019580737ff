#pragma once

#include <QDateTime>
#include <QFileDevice>
#include <QString>

namespace Lib7z {

// One item of an archive to write: a folder, or a file whose bytes come from sourcePath.
// The time and the permissions are stored with it, and the updater's
// extraction puts them on the unpacked item.
struct ArchiveItem
{
    QString name;       // path inside the archive, "/"-separated
    QString sourcePath; // empty for a folder
    qint64 size = 0;
    QDateTime modified; // none stored when invalid
    QFileDevice::Permissions permissions;

    bool isFolder() const { return sourcePath.isEmpty(); }

    static ArchiveItem folder(const QString &name);
    // A file with its own time and permissions.
    static ArchiveItem file(const QString &name, const QString &sourcePath);
};

} // namespace Lib7z
