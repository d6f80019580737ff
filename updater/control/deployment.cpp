#include "control/deployment.h"

#include "platform/platform.h"
#include "releasecontract/filemd5.h"
#include "releasecontract/relativepath.h"
#include "releasecontract/releaselayout.h"
#include "setup/setupplatform.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {
// The files below `folder`, in its sub-folders too: no links, no hidden files.
QFileInfoList plainFilesBelow(const QString &folder)
{
    QFileInfoList files;
    if (!QDir(folder).exists())
        return files;
    QDirIterator it(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        files.append(it.fileInfo());
    }
    return files;
}

// The first half of replacing a copy that differs: clear its read-only
// attribute and delete it; a failure is logged and the copy moved aside later.
void deleteStaleCopy(const QString &copy, const char *deleteFailedText, const QString &logItem)
{
    Platform::clearReadOnly(copy);
    if (QFileInfo::exists(copy) && !QFile::remove(copy))
        qDebug() << deleteFailedText << logItem;
}

// Copies never overwrite: a target that is still there is moved aside to its
// name + ".bak" first. A leftover ".bak" makes both the move and the copy fail.
bool moveAsideAndCopy(const QString &source, const QString &target, const char *renameFailedText,
                      const QString &logItem)
{
    if (QFileInfo::exists(target) && !QFile::rename(target, target + QStringLiteral(".bak")))
        qDebug() << renameFailedText << logItem;
    return QFile::copy(source, target);
}
} // namespace

Deployment::Deployment(const QString &installPath, const QString &backupPath)
    : m_installPath(installPath), m_backupPath(backupPath)
{}

void Deployment::rebuildBackupFolder() const
{
    // Emptied recursively below: a link in its place would empty its target.
    const QFileInfo backup(m_backupPath);
    SetupPlatform::removeLinksOnPath(backup.path(), backup.fileName());
    QDir backupDir(m_backupPath);
    if (backupDir.exists()) {
        removeFilesWithSuffix(m_backupPath, QStringLiteral("bak"));
        if (!backupDir.removeRecursively())
            qDebug() << "Delete backup path fail";
    }
    if (!QDir().mkpath(m_backupPath))
        qDebug() << "Create backup path fail";
}

bool Deployment::deployFiles(const QStringList &files, Failure *failure) const
{
    for (const QString &file : files) {
        if (!backUpFile(file, "del deploy file failed: ", "rename deploy file failed: ")) {
            *failure = {"Copy deploy file error:", file};
            return false;
        }
    }
    return true;
}

bool Deployment::deployFolders(const QStringList &folders, Failure *failure) const
{
    for (const QString &folder : folders) {
        const QString backupFolder = m_backupPath + QLatin1Char('/') + folder;
        QDir().mkpath(QFileInfo(backupFolder).path());
        QDir(backupFolder).removeRecursively();
        if (!copyDirectory(m_installPath + QLatin1Char('/') + folder, backupFolder, true)) {
            *failure = {"Copy deploy dir error:", folder};
            return false;
        }
    }
    return true;
}

bool Deployment::backUpModifiedFiles(const PatchList &modify, Failure *failure) const
{
    for (auto it = modify.cbegin(); it != modify.cend(); ++it) {
        const QString &file = it.key();
        // A key from the configuration must not reach out of the installation.
        if (!staysInsideFolder(file)) {
            qDebug() << "backup file outside the installation skipped:" << file;
            continue;
        }
        if (!backUpFile(file, "del backup file failed: ", "rename backup file failed: ")) {
            *failure = {"Copy backup file error :", file};
            return false;
        }
    }
    return true;
}

bool Deployment::backUpFile(const QString &name, const char *deleteFailedText,
                            const char *renameFailedText) const
{
    const QString backupCopy = m_backupPath + QLatin1Char('/') + name;
    const QString installedCopy = m_installPath + QLatin1Char('/') + name;
    SetupPlatform::removeLinksOnPath(m_backupPath, name);
    QDir().mkpath(QFileInfo(backupCopy).path());
    // Also skips a file that is missing in both places.
    if (fileMd5(backupCopy) == fileMd5(installedCopy))
        return true;
    deleteStaleCopy(backupCopy, deleteFailedText, name);
    return moveAsideAndCopy(installedCopy, backupCopy, renameFailedText, name);
}

bool Deployment::copyDirectory(const QString &source, const QString &target, bool compareFirst)
{
    // Every target below is reached through this folder or is a file in it.
    const QFileInfo targetFolder(target);
    if (!SetupPlatform::removeLinksOnPath(targetFolder.path(), targetFolder.fileName()))
        return false;
    if (!QDir(target).exists() && !QDir().mkpath(target))
        return false;
    const QFileInfoList entries = QDir(source).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        const QString targetPath = QDir(target).absoluteFilePath(entry.fileName());
        if (entry.isDir()) {
            // Never copy a backup or a self-update folder into another.
            const QString baseName = entry.baseName();
            if (baseName == ReleaseLayout::backupFolder() ||
                baseName == ReleaseLayout::selfUpdateFolder())
                continue;
            if (!copyDirectory(entry.absoluteFilePath(), targetPath, compareFirst))
                return false;
            continue;
        }
        if (entry.fileName() == QLatin1String("RUVir.txt"))
            continue;
        if (!SetupPlatform::removeLinksOnPath(target, entry.fileName()))
            return false;
        if (compareFirst && QFileInfo::exists(targetPath)) {
            if (fileMd5(targetPath) == fileMd5(entry.absoluteFilePath()))
                continue;
            deleteStaleCopy(targetPath, "del failed: ", targetPath);
        }
        if (!moveAsideAndCopy(entry.absoluteFilePath(), targetPath,
                              "rename failed: ", targetPath)) {
            qDebug() << "copy failed: " << targetPath;
            return false;
        }
    }
    return true;
}

void Deployment::removeFilesWithSuffix(const QString &folder, const QString &suffix)
{
    for (const QFileInfo &file : plainFilesBelow(folder)) {
        if (file.suffix() == suffix)
            QFile::remove(file.filePath());
    }
}

void Deployment::logPermissions(const QString &folder)
{
    const QByteArray rule(31, '=');
    qDebug() << rule.constData() << folder;
    if (!QDir(folder).exists())
        return;
    for (const QFileInfo &file : plainFilesBelow(folder))
        qDebug() << file.absoluteFilePath() << file.permissions();
    qDebug() << rule.constData();
}
