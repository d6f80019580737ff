#include "setup/installjournal.h"

#include "releasecontract/filemd5.h"
#include "releasecontract/relativepath.h"
#include "setup/setupplatform.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

QString InstallJournal::temporaryName(const QString &target)
{
    return target + QStringLiteral(".trellim-new");
}

bool InstallJournal::putInPlace(const QString &source, const QString &target,
                                bool keepTargetPermissions)
{
    const QString temporary = temporaryName(target);
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary))
        return false;
    if (keepTargetPermissions)
        QFile::setPermissions(temporary, QFileInfo(target).permissions());
    if (SetupPlatform::replaceFile(temporary, target))
        return true;
    QFile::remove(temporary);
    return false;
}

QString InstallJournal::journalFile() const
{
    return folder() + QStringLiteral("/journal.json");
}

bool InstallJournal::commit() const
{
    QJsonObject object;
    object.insert(QStringLiteral("format"), journalFormat);
    object.insert(QStringLiteral("replaced"), QJsonArray::fromStringList(replaced));
    object.insert(QStringLiteral("added"), QJsonArray::fromStringList(added));
    object.insert(QStringLiteral("createdFolders"), QJsonArray::fromStringList(createdFolders));
    const QString temporary = temporaryName(journalFile());
    QDir().mkpath(folder());
    QFile file(temporary);
    const QByteArray content = QJsonDocument(object).toJson();
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(content) == content.size() && file.flush();
    file.close();
    if (written && SetupPlatform::replaceFile(temporary, journalFile()))
        return true;
    qCritical() << "cannot write the journal" << journalFile();
    QFile::remove(temporary);
    return false;
}

bool InstallJournal::read()
{
    QFile file(journalFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    return object.value(QStringLiteral("format")).toInt() == journalFormat &&
           readList(object, "replaced", &replaced) && readList(object, "added", &added) &&
           readList(object, "createdFolders", &createdFolders);
}

bool InstallJournal::rollBack() const
{
    bool complete = true;
    for (const QString &path : replaced) {
        const QString target = installPath + QLatin1Char('/') + path;
        const QString saved = savedCopy(path);
        QFile::remove(temporaryName(target));
        if (!QFileInfo(saved).isFile()) {
            qCritical() << "no saved copy to put back:" << path;
            complete = false;
        } else if (fileMd5(target) != fileMd5(saved) && !putInPlace(saved, target, false)) {
            qCritical() << "cannot put back the previous version of" << path;
            complete = false;
        }
    }
    for (const QString &path : added) {
        const QString target = installPath + QLatin1Char('/') + path;
        QFile::remove(temporaryName(target));
        const QFileInfo file(target);
        // Nothing was there before; a folder in its place was never touched.
        if (file.isFile() && !file.isSymLink() && !QFile::remove(target)) {
            qCritical() << "cannot delete the added file" << path;
            complete = false;
        }
    }
    for (auto it = createdFolders.crbegin(); it != createdFolders.crend(); ++it) {
        const QString created = installPath + QLatin1Char('/') + *it;
        if (QFileInfo(created).isDir() && !QDir().rmdir(created))
            qDebug() << "created folder not empty, left in place:" << *it;
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
    if (!QDir(folder()).removeRecursively())
        qDebug() << "saved copies left in" << folder();
    return true;
}

bool InstallJournal::recoverInterruptedRun()
{
    if (!QFileInfo(folder()).isDir())
        return true;
    if (!QFileInfo::exists(journalFile())) {
        qDebug() << "an unfinished journal changed nothing; removing" << folder();
        return discard();
    }
    if (!read()) {
        qCritical() << "the journal of an interrupted run cannot be read; nothing is changed:"
                    << journalFile();
        return false;
    }
    qDebug() << "rolling back an interrupted run:" << replaced.size() << "files to put back,"
             << added.size() << "files to delete";
    if (!rollBack())
        return false;
    qDebug() << "the interrupted run is rolled back";
    return true;
}
