#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// Finds packets in the work folder by their MD5 sum without reading every file
// at every lookup: the sum of each file is remembered with the file's name,
// size and modification time, in memory and in a small file in the folder, so
// that an unchanged file is read once, in this run or in an earlier one.
//
// The caller checks the packet it takes by its real sum, so a wrong entry (a
// file replaced keeping its size and time) costs one restart at most: a sum
// remembered from an earlier run serves one match, and before it would match
// again the file is read anew.
class PacketSumCache
{
public:
    // The cache's own file in the folder it describes; never taken for a packet.
    static QString cacheFileName();

    // The last of the plain files directly in `folder`, in name order ignoring
    // case, whose MD5 sum is `sum`; empty when there is none.
    QString findByMd5(const QString &folder, const QByteArray &sum);

private:
    struct Entry
    {
        QByteArray md5;
        qint64 size = 0;
        qint64 modified = 0; // milliseconds since the epoch
        bool summedThisRun = false;
        bool matched = false; // has served a match in this run
    };

    void load(const QString &newFolder);
    void save() const;

    QString folder;
    QHash<QString, Entry> entries; // by file name
};
