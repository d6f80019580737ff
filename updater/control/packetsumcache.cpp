#include "control/packetsumcache.h"

#include "releasecontract/filemd5.h"
#include "setup/setupplatform.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

QString PacketSumCache::cacheFileName()
{
    return QStringLiteral("packetsums.json");
}

QString PacketSumCache::findByMd5(const QString &newFolder, const QByteArray &sum)
{
    if (newFolder != folder)
        load(newFolder);
    QString found;
    QHash<QString, Entry> present;
    bool changed = false;
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        const QString name = file.fileName();
        if (name == cacheFileName())
            continue;
        Entry entry = entries.value(name);
        const qint64 modified = file.lastModified().toMSecsSinceEpoch();
        const bool unchanged =
            entries.contains(name) && entry.size == file.size() && entry.modified == modified;
        const bool secondMatchOnOldSum = !entry.summedThisRun && entry.matched && entry.md5 == sum;
        if (!unchanged || secondMatchOnOldSum) {
            entry = Entry{fileMd5(file.filePath()), file.size(), modified, true, false};
            qDebug() << "packet sum" << name << entry.md5;
            changed = true;
        }
        if (entry.md5 == sum) {
            found = file.filePath();
            entry.matched = true;
        }
        // A file that cannot be read is tried again next time.
        if (!entry.md5.isEmpty())
            present.insert(name, entry);
    }
    changed = changed || present.size() != entries.size();
    entries = present;
    if (changed)
        save();
    return found;
}

void PacketSumCache::load(const QString &newFolder)
{
    folder = newFolder;
    entries.clear();
    QFile file(folder + QLatin1Char('/') + cacheFileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Anything unreadable is left out; those files are summed again.
    const QJsonArray files =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("files")).toArray();
    for (const QJsonValue &value : files) {
        const QJsonObject object = value.toObject();
        const QString name = object.value(QStringLiteral("name")).toString();
        const QByteArray md5 = object.value(QStringLiteral("md5")).toString().toLatin1();
        if (name.isEmpty() || md5.isEmpty())
            continue;
        Entry entry;
        entry.md5 = md5;
        entry.size = qint64(object.value(QStringLiteral("size")).toDouble(-1));
        entry.modified = qint64(object.value(QStringLiteral("modified")).toDouble(-1));
        entries.insert(name, entry);
    }
}

void PacketSumCache::save() const
{
    QJsonArray files;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        files.append(QJsonObject{{QStringLiteral("name"), it.key()},
                                 {QStringLiteral("size"), double(it->size)},
                                 {QStringLiteral("modified"), double(it->modified)},
                                 {QStringLiteral("md5"), QString::fromLatin1(it->md5)}});
    }
    // Written whole or not at all; a cache that cannot be written only costs
    // the next run its reading. The save would write through a link planted
    // at its name, so such a link goes first.
    if (!SetupPlatform::removeLinksOnPath(folder, cacheFileName()))
        return;
    QSaveFile file(folder + QLatin1Char('/') + cacheFileName());
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), files}})
                       .toJson(QJsonDocument::Compact)) < 0 ||
        !file.commit())
        qDebug() << "packet sums not saved" << file.errorString();
}
