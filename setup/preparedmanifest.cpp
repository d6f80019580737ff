#include "setup/preparedmanifest.h"

#include "releasecontract/filemd5.h"
#include "setup/durablefile.h"
#include "setup/installjournal.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const int manifestFormat = 1;
}

QString PreparedManifest::pathFor(const QString &packetPath)
{
    return packetPath + QStringLiteral(".manifest");
}

bool PreparedManifest::listFiles(const QString &packetPath, QStringList *files, QString *error)
{
    files->clear();
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
            *error =
                QStringLiteral("the prepared folder holds an entry that cannot be installed: ") +
                path;
            return false;
        }
        files->append(path);
    }
    files->sort();
    return true;
}

bool PreparedManifest::write(const QString &packetPath, const QString &osTag,
                             const QString &version, QString *error)
{
    QStringList files;
    if (!listFiles(packetPath, &files, error))
        return false;
    QJsonObject sums;
    for (const QString &file : qAsConst(files))
        sums.insert(file, QString::fromLatin1(fileMd5(packetPath + QLatin1Char('/') + file)));
    const QJsonObject manifest{{QStringLiteral("format"), manifestFormat},
                               {QStringLiteral("osTag"), osTag},
                               {QStringLiteral("version"), version},
                               {QStringLiteral("files"), sums}};
    return DurableFile::write(pathFor(packetPath), QJsonDocument(manifest).toJson(), error);
}

bool PreparedManifest::read(const QString &packetPath, QString *error)
{
    QFile file(pathFor(packetPath));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    const QJsonObject manifest = QJsonDocument::fromJson(file.readAll()).object();
    osTag = manifest.value(QStringLiteral("osTag")).toString();
    version = manifest.value(QStringLiteral("version")).toString();
    sums.clear();
    const QJsonObject files = manifest.value(QStringLiteral("files")).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        sums.insert(it.key(), it.value().toString().toLatin1());
    if (manifest.value(QStringLiteral("format")).toInt() != manifestFormat || osTag.isEmpty()) {
        *error = file.fileName() + QStringLiteral(": not a manifest of this format");
        return false;
    }
    return true;
}
