#pragma once

#include <QByteArray>
#include <QString>

// Files that survive a crash or a power cut whole: each is written beside its
// target under a temporary name, put on the disk, renamed into place, and the
// folder's new entry is put on the disk too. Until the rename the target is
// the old file; after it, the new one. A run cut short may leave the
// temporary file behind, which the next write of the same target removes.
class DurableFile
{
public:
    static QString temporaryName(const QString &target);

    // Copies `source` to the new file `target` (nothing may be there, not even
    // a link) with the source's permissions and puts it on the disk; *md5
    // receives the sum of the bytes copied.
    static bool copy(const QString &source, const QString &target, QByteArray *md5, QString *error);
    // Puts a copy of `source` in place of `target`. With `expectedMd5` set,
    // bytes with another sum are never renamed into place. A replaced file
    // keeps its permissions when `keepTargetPermissions`.
    static bool replace(const QString &source, const QString &target, bool keepTargetPermissions,
                        const QByteArray &expectedMd5, QString *error);
    // Puts `content` in place of `target`.
    static bool write(const QString &target, const QByteArray &content, QString *error);
    // Puts an existing file's content on the disk (one reached through a second name).
    static bool sync(const QString &path);

private:
    // Renames the finished temporary file onto `target` and syncs the folder.
    static bool rename(const QString &temporary, const QString &target, QString *error);
};
