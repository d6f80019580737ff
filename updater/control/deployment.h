#pragma once

#include "releasecontract/patchentry.h"

#include <QString>
#include <QStringList>

// Prepares an installation for the setup program: rebuilds its backup folder
// with the updater's run-time files and plug-in folders, from which the setup
// program runs while the installation's own files are replaced, and with the
// previous version of every file the update changes.
//
// Copies never overwrite: a differing target is deleted (its read-only
// attribute cleared first) and, if it is still there, moved aside to its name
// + ".bak" before the copy. A leftover ".bak" makes both the move and the copy
// fail; the next rebuild removes it.
class Deployment
{
public:
    // What failed, for the log: the failure text and the name it is about.
    struct Failure
    {
        const char *text = nullptr;
        QString name;
    };

    Deployment(const QString &installPath, const QString &backupPath);

    // Deletes and recreates the backup folder; failures are logged and the
    // copies that follow will fail.
    void rebuildBackupFolder() const;
    // Copies each of `files` (names relative to the installation) into the
    // backup folder unless the copy there is already equal.
    bool deployFiles(const QStringList &files, Failure *failure) const;
    // Replaces each of `folders` in the backup folder by a copy of the
    // installation's.
    bool deployFolders(const QStringList &folders, Failure *failure) const;
    // Backs up the installed version of every file of `modify`, in key order.
    bool backUpModifiedFiles(const PatchList &modify, Failure *failure) const;

    // Copies the folder `source` into `target` recursively; true when every
    // entry was copied or skipped. A differing target file is deleted only
    // when `compareFirst` (an equal one is then skipped). Folders whose base
    // name is "backup" or "fixupdate" and files named "RUVir.txt" are not
    // copied.
    static bool copyDirectory(const QString &source, const QString &target, bool compareFirst);
    // Removes every plain, visible file below `folder` whose text after the
    // last "." is exactly `suffix`; links are left alone.
    static void removeFilesWithSuffix(const QString &folder, const QString &suffix);
    // Logs every file below `folder` with its permissions, for the uploaded log.
    static void logPermissions(const QString &folder);

private:
    // Copies installPath/name over backupPath/name unless both already have
    // the same content; false when the copy fails.
    bool backUpFile(const QString &name, const char *deleteFailedText,
                    const char *renameFailedText) const;

    QString m_installPath;
    QString m_backupPath;
};
