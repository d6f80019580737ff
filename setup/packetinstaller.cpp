#include "setup/packetinstaller.h"

#include "releasecontract/filemd5.h"
#include "releasecontract/releaselayout.h"
#include "setup/setupplatform.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

PacketInstaller::PacketInstaller(const QString &packetPath, const QString &installPath)
    : packetPath(packetPath), installPath(installPath),
      backupPath(installPath + QLatin1Char('/') + ReleaseLayout::backupFolder()),
      journal(installPath)
{}

bool PacketInstaller::install()
{
    if (!plan())
        return false;
    qDebug() << "to replace:" << journal.replaced.size() << "files, to add:" << journal.added.size()
             << "files";
    if (!keepPreviousVersions() || !journal.commit()) {
        journal.discard();
        return false;
    }
    if (apply() && journal.discard())
        return true;
    qCritical() << "the installation is put back as it was";
    journal.rollBack();
    return false;
}

bool PacketInstaller::plan()
{
    // Another run may have installed it and removed it meanwhile.
    if (!QFileInfo(packetPath).isDir()) {
        qCritical() << "the prepared folder is gone:" << packetPath;
        return false;
    }
    // Its saved copies may be the only previous versions left.
    if (QFileInfo::exists(journal.folder())) {
        qCritical() << "a journal of an earlier run is still there:" << journal.folder();
        return false;
    }
    const QDir packet(packetPath);
    QDirIterator entries(packetPath,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        if (entry.isDir() && !entry.isSymLink())
            continue;
        const QString path = packet.relativeFilePath(entry.filePath());
        if (entry.isSymLink() || !entry.isFile() || !InstallJournal::isRecordablePath(path)) {
            qCritical() << "the prepared folder holds an entry that cannot be installed:" << path;
            return false;
        }
        files << path;
    }
    files.sort();

    for (const QString &path : qAsConst(files)) {
        const QFileInfo target(installPath + QLatin1Char('/') + path);
        if (target.isSymLink()) {
            qCritical() << "a link in the installation is not replaced:" << path;
            return false;
        }
        // Whatever else stands in the way (a folder) makes the run fail when
        // the file is put in place, and the run is rolled back then.
        (target.isFile() ? journal.replaced : journal.added) << path;
        const QStringList parts = path.split(QLatin1Char('/'));
        QString folder;
        for (int i = 0; i + 1 < parts.size(); ++i) {
            folder += (i == 0 ? QString() : QStringLiteral("/")) + parts.at(i);
            if (!QFileInfo::exists(installPath + QLatin1Char('/') + folder) &&
                !journal.createdFolders.contains(folder))
                journal.createdFolders << folder;
        }
    }
    return true;
}

bool PacketInstaller::keepPreviousVersions()
{
    for (const QString &path : qAsConst(journal.replaced)) {
        const QString installed = installPath + QLatin1Char('/') + path;
        const QString backup = backupPath + QLatin1Char('/') + path;
        const QString saved = journal.savedCopy(path);
        QDir().mkpath(QFileInfo(saved).path());
        // The updater's backup folder normally holds the previous version
        // already; it is trusted only when its content is the installed one.
        const QByteArray installedMd5 = fileMd5(installed);
        const bool linked = !installedMd5.isEmpty() && QFileInfo(backup).isFile() &&
                            fileMd5(backup) == installedMd5 &&
                            SetupPlatform::linkFile(backup, saved);
        if (!linked && !QFile::copy(installed, saved)) {
            qCritical() << "cannot keep the previous version of" << path;
            return false;
        }
        qDebug() << "previous version kept:" << path
                 << (linked ? "(from the backup folder)" : "(copied)");
    }
    return true;
}

bool PacketInstaller::apply()
{
    for (const QString &folder : qAsConst(journal.createdFolders)) {
        if (!QDir().mkdir(installPath + QLatin1Char('/') + folder)) {
            qCritical() << "cannot create the folder" << folder;
            return false;
        }
    }
    for (const QString &path : qAsConst(journal.replaced)) {
        if (!applyFile(path, true))
            return false;
    }
    for (const QString &path : qAsConst(journal.added)) {
        if (!applyFile(path, false))
            return false;
    }
    return true;
}

bool PacketInstaller::applyFile(const QString &path, bool keepPermissions)
{
    // A replaced file keeps its permissions, the execute permission included.
    if (!InstallJournal::putInPlace(packetPath + QLatin1Char('/') + path,
                                    installPath + QLatin1Char('/') + path, keepPermissions)) {
        qCritical() << "cannot put in place" << path;
        return false;
    }
    qDebug() << (keepPermissions ? "replaced" : "added") << path;
    return true;
}
