#include "setup/packetinstaller.h"

#include "releasecontract/filemd5.h"
#include "releasecontract/releaselayout.h"
#include "releasecontract/updateconfig.h"
#include "setup/durablefile.h"
#include "setup/setupplatform.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

PacketInstaller::PacketInstaller(const QString &packetPath, const QString &installPath,
                                 const QString &configurationPath, const QString &version)
    : packetPath(packetPath), installPath(installPath), configurationPath(configurationPath),
      version(version), journal(installPath)
{}

PacketInstaller::Outcome PacketInstaller::install()
{
    if (!plan())
        return Unchanged;
    qDebug() << "to replace:" << journal.replaced.size() << "files, to add:" << journal.added.size()
             << "files";
    if (!keepPreviousVersions() || !journal.commit()) {
        journal.discard();
        return Unchanged;
    }
    if (apply() && verify() && journal.discard())
        return Installed;
    qCritical() << "the installation is put back as it was";
    return journal.rollBack() ? RolledBack : InDoubt;
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
    if (!checkPreparedFiles())
        return false;

    for (const QString &path : qAsConst(files)) {
        const QString link = SetupPlatform::linkOnPath(installPath, path);
        if (!link.isEmpty()) {
            qCritical() << "a link in the installation is not followed:" << link;
            return false;
        }
        // Whatever else stands in the way (a folder) makes the run fail when
        // the file is put in place, and the run is rolled back then.
        (QFileInfo(installPath + QLatin1Char('/') + path).isFile() ? journal.replaced
                                                                   : journal.added)
            << path;
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

bool PacketInstaller::checkPreparedFiles()
{
    QString error;
    if (!PreparedManifest::listFiles(packetPath, &files, &error) ||
        !manifest.read(packetPath, &error)) {
        qCritical() << "the prepared files cannot be checked:" << error;
        return false;
    }
    if (manifest.version != version || manifest.sums.keys() != files) {
        qCritical() << "the updater's sums do not describe this prepared folder:"
                    << PreparedManifest::pathFor(packetPath) << "version" << manifest.version;
        return false;
    }
    readNewSums();
    for (const QString &file : qAsConst(files)) {
        const QByteArray sum = manifest.sums.value(file);
        if (newSums.contains(file) && newSums.value(file) != sum) {
            qCritical() << "the updater's sum of" << file << "is not the configuration's:" << sum
                        << newSums.value(file);
            return false;
        }
        if (fileMd5(packetPath + QLatin1Char('/') + file) != sum) {
            qCritical() << "a prepared file differs from the sum the updater recorded:" << file;
            return false;
        }
    }
    return true;
}

void PacketInstaller::readNewSums()
{
    // The configuration the files were made from: a missing one names no sum.
    UpdateConfig configuration;
    configuration.configPath = configurationPath;
    configuration.getPartialPacketInfo(manifest.osTag, version);
    for (auto it = configuration.modify.cbegin(); it != configuration.modify.cend(); ++it) {
        if (!it->newFileMd5.isEmpty() && InstallJournal::isRecordablePath(it.key()))
            newSums.insert(it.key(), it->newFileMd5);
    }
}

bool PacketInstaller::keepPreviousVersions()
{
    for (const QString &path : qAsConst(journal.replaced)) {
        const QString installed = installPath + QLatin1Char('/') + path;
        const QString backupName = ReleaseLayout::backupFolder() + QLatin1Char('/') + path;
        const QString backup = installPath + QLatin1Char('/') + backupName;
        const QString saved = journal.savedCopy(path);
        QDir().mkpath(QFileInfo(saved).path());
        // The updater's backup folder normally holds the previous version
        // already; it is trusted only when its content is the installed one.
        const QByteArray installedMd5 = fileMd5(installed);
        bool linked = !installedMd5.isEmpty() &&
                      SetupPlatform::linkOnPath(installPath, backupName).isEmpty() &&
                      QFileInfo(backup).isFile() && fileMd5(backup) == installedMd5 &&
                      SetupPlatform::linkFile(backup, saved);
        if (linked && !DurableFile::sync(saved)) {
            QFile::remove(saved);
            linked = false;
        }
        QString error;
        if (!linked && !DurableFile::copy(installed, saved, nullptr, &error)) {
            qCritical() << "cannot keep the previous version of" << path << error;
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
        const QString created = installPath + QLatin1Char('/') + folder;
        if (!QDir().mkdir(created) || !SetupPlatform::syncFolder(QFileInfo(created).path())) {
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
    QString error;
    if (!DurableFile::replace(packetPath + QLatin1Char('/') + path,
                              installPath + QLatin1Char('/') + path, keepPermissions,
                              manifest.sums.value(path), &error)) {
        qCritical() << "cannot put in place" << path << error;
        return false;
    }
    qDebug() << (keepPermissions ? "replaced" : "added") << path;
    return true;
}

bool PacketInstaller::verify() const
{
    for (const QString &path : files) {
        if (fileMd5(installPath + QLatin1Char('/') + path) != manifest.sums.value(path)) {
            qCritical() << "not in place with the prepared bytes:" << path;
            return false;
        }
    }
    for (auto it = newSums.cbegin(); it != newSums.cend(); ++it) {
        if (fileMd5(installPath + QLatin1Char('/') + it.key()) != it.value()) {
            qCritical() << "a changed file does not have its new sum:" << it.key();
            return false;
        }
    }
    return true;
}
