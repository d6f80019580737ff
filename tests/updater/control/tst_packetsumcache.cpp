// The packet lookup's sum cache on a real folder (the lookup's answers are
// tested with the controller): each file read once per run and not at all in
// the next one, changed files read again, and a wrong entry from an earlier
// run trusted for one match only.
#include "control/packetsumcache.h"
#include "logcapture.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

QByteArray md5(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
}

int summed()
{
    return LogCapture::lines().filter(QStringLiteral("packet sum ")).size();
}

} // namespace

class TestPacketSumCache : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;

    QString path(const QString &name) const { return dir->filePath(name); }
    bool write(const QString &name, const QByteArray &content) const
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        QVERIFY(write(QStringLiteral("b.pak"), "same"));
        QVERIFY(write(QStringLiteral("A.pak"), "same"));
        QVERIFY(write(QStringLiteral("c.pak"), "other"));
    }

    // Each unchanged file is read once in a run and not at all in the next.
    void unchangedFilesAreReadOnce()
    {
        LogCapture log;
        PacketSumCache firstRun;
        // The last match by name ignoring case: A.pak, b.pak.
        QCOMPARE(firstRun.findByMd5(dir->path(), md5("same")), path(QStringLiteral("b.pak")));
        firstRun.findByMd5(dir->path(), md5("other"));
        QCOMPARE(summed(), 3);
        PacketSumCache nextRun;
        QCOMPARE(nextRun.findByMd5(dir->path(), md5("other")), path(QStringLiteral("c.pak")));
        QCOMPARE(summed(), 3);

        // The cache's own file is no packet, whatever its sum.
        QFile cache(path(PacketSumCache::cacheFileName()));
        QVERIFY(cache.open(QIODevice::ReadOnly));
        QCOMPARE(nextRun.findByMd5(dir->path(), md5(cache.readAll())), QString());
    }

    void changedFilesAreReadAgain_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("ageSeconds"); // how far back the new time is set
        QTest::newRow("new size") << QByteArray("longer") << 0;
        QTest::newRow("same size, new time") << QByteArray("othe!") << 3600;
    }
    void changedFilesAreReadAgain()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, ageSeconds);
        PacketSumCache firstRun;
        QCOMPARE(firstRun.findByMd5(dir->path(), md5("other")), path(QStringLiteral("c.pak")));
        QVERIFY(write(QStringLiteral("c.pak"), content));
        QFile file(path(QStringLiteral("c.pak")));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime));
        file.close();
        PacketSumCache nextRun;
        for (PacketSumCache *cache : {&firstRun, &nextRun}) {
            QCOMPARE(cache->findByMd5(dir->path(), md5("other")), QString());
            QCOMPARE(cache->findByMd5(dir->path(), md5(content)), path(QStringLiteral("c.pak")));
        }
    }

    // A file replaced between runs keeping its size and time: the earlier
    // run's sum is believed for one match (which the caller's own check
    // refutes), then the file is read again.
    void wrongEntryFromAnEarlierRunServesOneMatch()
    {
        PacketSumCache firstRun;
        QCOMPARE(firstRun.findByMd5(dir->path(), md5("other")), path(QStringLiteral("c.pak")));
        const QDateTime modified = QFileInfo(path(QStringLiteral("c.pak"))).lastModified();
        QVERIFY(write(QStringLiteral("c.pak"), "OTHER"));
        QFile file(path(QStringLiteral("c.pak")));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
        file.close();

        LogCapture log;
        PacketSumCache nextRun;
        QCOMPARE(nextRun.findByMd5(dir->path(), md5("other")), path(QStringLiteral("c.pak")));
        QCOMPARE(summed(), 0);
        QCOMPARE(nextRun.findByMd5(dir->path(), md5("other")), QString());
        QCOMPARE(nextRun.findByMd5(dir->path(), md5("OTHER")), path(QStringLiteral("c.pak")));
        QCOMPARE(summed(), 1);
    }

    // A damaged cache file costs the reading, and files that are gone leave it.
    void damagedOrOutdatedCacheFile()
    {
        QVERIFY(write(PacketSumCache::cacheFileName(), "{\"files\": [{\"name\": 7}"));
        LogCapture log;
        PacketSumCache firstRun;
        QCOMPARE(firstRun.findByMd5(dir->path(), md5("other")), path(QStringLiteral("c.pak")));
        QCOMPARE(summed(), 3);
        QVERIFY(QFile::remove(path(QStringLiteral("A.pak"))));
        firstRun.findByMd5(dir->path(), md5("other"));
        QFile cache(path(PacketSumCache::cacheFileName()));
        QVERIFY(cache.open(QIODevice::ReadOnly));
        const QByteArray content = cache.readAll();
        QVERIFY(content.contains("\"b.pak\"") && content.contains("\"c.pak\""));
        QVERIFY(!content.contains("\"A.pak\""));
    }

    // A link planted at the cache's name is removed, not written through.
    void linkAtTheCacheNameIsNotFollowed()
    {
        QTemporaryDir outside;
        QFile profile(outside.filePath(QStringLiteral("profile")));
        QVERIFY(profile.open(QIODevice::WriteOnly) && profile.write("the user's own") == 14);
        profile.close();
        QVERIFY(QFile::link(profile.fileName(), path(PacketSumCache::cacheFileName())));
        PacketSumCache run;
        QCOMPARE(run.findByMd5(dir->path(), md5("other")), path(QStringLiteral("c.pak")));
        QVERIFY(profile.open(QIODevice::ReadOnly));
        QCOMPARE(profile.readAll(), QByteArray("the user's own"));
        QVERIFY(!QFileInfo(path(PacketSumCache::cacheFileName())).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestPacketSumCache)
#include "tst_packetsumcache.moc"
