#include "setup/installjournal.h"

#include "releasecontract/filemd5.h"
#include "releasecontract/relativepath.h"
#include "setup/durablefile.h"
#include "setup/installlock.h"
#include "setup/setupplatform.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {
const int journalFormat = 1;

bool readList(const QJsonObject &object, const char *key, QStringList *list)
{
    list->clear();
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isArray())
        return false;
    for (const QJsonValue &item : value.toArray()) {
        if (!InstallJournal::isRecordablePath(item.toString()))
            return false;
        list->append(item.toString());
    }
    return true;
}
} // namespace

InstallJournal::InstallJournal(const QString &installPath) : installPath(installPath) {}

bool InstallJournal::isRecordablePath(const QString &path)
{
    // Written with "/" only and without "." steps, so that one file has one name.
    return staysInsideFolder(path) && !path.contains(QLatin1Char('\\')) &&
           QDir::cleanPath(path) == path &&
           path.section(QLatin1Char('/'), 0, 0).compare(folderName(), Qt::CaseInsensitive) != 0;
}

QString InstallJournal::folder() const
{
    return installPath + QLatin1Char('/') + folderName();
}

QString InstallJournal::savedCopy(const QString &relativePath) const
{
    return folder() + QStringLiteral("/saved/") + relativePath;
}

QString InstallJournal::journalFile() const
{
    return folder() + QStringLiteral("/journal.json");
}

QString InstallJournal::target(const QString &path) const
{
    return installPath + QLatin1Char('/') + path;
}

bool InstallJournal::followsNoLink(const QString &path) const
{
    QString link = SetupPlatform::linkOnPath(installPath, path);
    if (link.isEmpty())
        link = SetupPlatform::linkOnPath(folder(), QStringLiteral("saved/") + path);
    if (link.isEmpty())
        return true;
    qCritical() << "not followed, a link is on its way:" << path << link;
    return false;
}

bool InstallJournal::commit() const
{
    // Every folder that holds saved copies, deepest first, then the journal's own.
    QStringList folders;
    for (const QString &path : replaced) {
        for (QString parent = QFileInfo(savedCopy(path)).path(); parent.size() > folder().size();
             parent = QFileInfo(parent).path()) {
            if (!folders.contains(parent))
                folders << parent;
        }
    }
    std::sort(folders.begin(), folders.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    bool synced = QDir().mkpath(folder());
    for (const QString &savedFolder : qAsConst(folders))
        synced = SetupPlatform::syncFolder(savedFolder) && synced;

    QJsonObject object;
    object.insert(QStringLiteral("format"), journalFormat);
    object.insert(QStringLiteral("replaced"), QJsonArray::fromStringList(replaced));
    object.insert(QStringLiteral("added"), QJsonArray::fromStringList(added));
    object.insert(QStringLiteral("createdFolders"), QJsonArray::fromStringList(createdFolders));
    QString error;
    if (synced && DurableFile::write(journalFile(), QJsonDocument(object).toJson(), &error) &&
        SetupPlatform::syncFolder(installPath))
        return true;
    qCritical() << "cannot write the journal" << journalFile() << error;
    return false;
}

bool InstallJournal::read(QString *problem)
{
    QFile file(journalFile());
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
    const QByteArray content = file.readAll();
    const QJsonObject object = QJsonDocument::fromJson(content).object();
    if (object.value(QStringLiteral("format")).toInt() == journalFormat &&
        readList(object, "replaced", &replaced) && readList(object, "added", &added) &&
        readList(object, "createdFolders", &createdFolders))
        return true;
    *problem = QStringLiteral("%1 bytes that are not a journal of this format: %2")
                   .arg(content.size())
                   .arg(QString::fromUtf8(content.left(200)));
    return false;
}

bool InstallJournal::putBack(const QString &path) const
{
    const QString saved = savedCopy(path);
    QString error;
    if (!QFileInfo(saved).isFile()) {
        qCritical() << "no saved copy to put back:" << path;
        return false;
    }
    if (fileMd5(target(path)) != fileMd5(saved) &&
        !DurableFile::replace(saved, target(path), false, QByteArray(), &error)) {
        qCritical() << "cannot put back the previous version of" << path << error;
        return false;
    }
    return true;
}

bool InstallJournal::rollBack() const
{
    bool complete = true;
    for (const QString &path : replaced) {
        if (!followsNoLink(path))
            continue;
        QFile::remove(DurableFile::temporaryName(target(path)));
        complete = putBack(path) && complete;
    }
    for (const QString &path : added) {
        if (!followsNoLink(path))
            continue;
        QFile::remove(DurableFile::temporaryName(target(path)));
        const QFileInfo file(target(path));
        // Nothing was there before; a folder in its place was never touched.
        if (file.isFile() && !QFile::remove(target(path))) {
            qCritical() << "cannot delete the added file" << path;
            complete = false;
        }
        SetupPlatform::syncFolder(file.path());
    }
    for (auto it = createdFolders.crbegin(); it != createdFolders.crend(); ++it) {
        if (!followsNoLink(*it))
            continue;
        const QFileInfo created(target(*it));
        if (created.isDir() && !QDir().rmdir(created.filePath()))
            qDebug() << "created folder not empty, left in place:" << *it;
        SetupPlatform::syncFolder(created.path());
    }
    if (!complete) {
        qCritical() << "the journal stays for the next start:" << folder();
        return false;
    }
    return discard();
}

bool InstallJournal::discard() const
{
    if (QFile::exists(journalFile()) && !QFile::remove(journalFile())) {
        qCritical() << "cannot remove the journal" << journalFile();
        return false;
    }
    // The run's end is on the disk before the saved copies go.
    SetupPlatform::syncFolder(folder());
    if (!QDir(folder()).removeRecursively())
        qDebug() << "saved copies left in" << folder();
    SetupPlatform::syncFolder(installPath);
    return true;
}

bool InstallJournal::restoreWithoutJournal(const QString &problem)
{
    qCritical() << "the journal of an interrupted run cannot be read:" << journalFile() << problem;
    qCritical() << "its saved previous versions are put back, and it is removed";
    bool complete = true;
    const QString savedFolder = folder() + QStringLiteral("/saved");
    QDirIterator saved(savedFolder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (saved.hasNext()) {
        const QString path = QDir(savedFolder).relativeFilePath(saved.next());
        if (isRecordablePath(path) && followsNoLink(path)) {
            complete = putBack(path) && complete;
            qDebug() << "previous version put back:" << path;
        }
    }
    // A rename the lost journal may have begun.
    QDirIterator leftovers(installPath, {QStringLiteral("*.trellim-new")},
                           QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (leftovers.hasNext())
        QFile::remove(leftovers.next());
    if (!complete) {
        qCritical() << "the journal stays for the next start:" << folder();
        return false;
    }
    return discard();
}

bool InstallJournal::recoverInterruptedRun()
{
    if (SetupPlatform::isLink(folder()))
        return SetupPlatform::removeLinksOnPath(installPath, folderName());
    if (!QFileInfo(folder()).isDir())
        return true;
    if (!QFileInfo::exists(journalFile())) {
        qDebug() << "an unfinished journal changed nothing; removing" << folder();
        return discard();
    }
    QString problem;
    if (!read(&problem))
        return restoreWithoutJournal(problem);
    qDebug() << "rolling back an interrupted run:" << replaced.size() << "files to put back,"
             << added.size() << "files to delete";
    if (!rollBack())
        return false;
    qDebug() << "the interrupted run is rolled back";
    return true;
}

bool InstallJournal::finishInterruptedRun(const QString &installPath)
{
    InstallJournal journal(installPath);
    const QString lockFile = InstallLock::filePath(installPath);
    if (!QFileInfo::exists(journal.folder()) && !SetupPlatform::isLink(journal.folder()) &&
        !QFileInfo::exists(lockFile) && !SetupPlatform::isLink(lockFile))
        return true;
    // Taking the lock also takes over one that a killed run left behind.
    qDebug() << "an interrupted update left its journal or its lock in the installation";
    InstallLock lock(installPath);
    return lock.take(InstallLock::waitMs) == InstallLock::Taken && journal.recoverInterruptedRun();
}
