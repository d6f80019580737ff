#include "control/updateconfig.h"
#include "logcapture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
// Documents are written with single quotes to keep them readable here.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

const QByteArray completeDocument = json(
    "{"
    "  'win7': {'installerMd5': '0000', 'installerUrl': 'http://h/win7.exe'},"
    "  'mac': {"
    "    'fixUpdatePacket': {'fixUpdatePacketMd5': 'f1', 'fixUpdatePacketUrl': 'http://h/fix.7z',"
    "                        'fixUpdateUesedVersion': ['1.0', '1.1']},"
    "    'installerMd5': 'i1', 'installerUrl': 'http://h/setup.dmg',"
    "    'partialPacket': {"
    "      '2.0': {'partialPacketMd5': 'p1', 'partialPacketUrl': 'http://h/p.7z',"
    "              'replacePacketMd5': 'r1', 'replacePacketUrl': 'http://h/r.7z',"
    "              'modify': {'patch': {"
    "                'z.dll': {'filePatch': 'z.patch', 'oldFileMd5': 'zo', 'newFileMd5': 'zn'},"
    "                'a/b.dll': {'filePatch': 'b.patch', 'oldFileMd5': 'bo', 'newFileMd5': 7},"
    "                'm.dll': {'filePatch': 3, 'oldFileMd5': null, 'newFileMd5': 'mn'}}}}}}"
    "}");
} // namespace

// Reading the update configuration: what each reader fills, returns and logs.
class TestUpdateConfig : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<LogCapture> logCapture;

    QString writeConfig(const QByteArray &content)
    {
        const QString path = dir.filePath(QStringLiteral("update.json"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
            return QString();
        return path;
    }

    static QString quoted(const QString &value) { return QLatin1Char('"') + value + '"'; }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        logCapture = std::make_unique<LogCapture>();
    }

    void cleanup() { logCapture.reset(); }

    void readers_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("fixOk");
        QTest::addColumn<bool>("installerOk");
        QTest::addColumn<bool>("partialOk");
        // fix md5, fix url, installer md5, installer url, partial md5, partial url,
        // replace md5, replace url
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("usedVersions");
        QTest::addColumn<QStringList>("modify"); // key|old|new|patch
        QTest::addColumn<bool>("isObject");      // the installer reader logs only then

        const QByteArray complete = completeDocument;
        const QStringList none{"", "", "", "", "", "", "", ""};

        QTest::newRow("complete, patch members sorted by name")
            << complete << "2.0" << true << true << true
            << QStringList{"f1", "http://h/fix.7z", "i1", "http://h/setup.dmg",
                           "p1", "http://h/p.7z",   "r1", "http://h/r.7z"}
            << QStringList{"1.0", "1.1"}
            << QStringList{"a/b.dll|bo|7|b.patch", "m.dll||mn|", "z.dll|zo|zn|z.patch"} << true;

        QTest::newRow("missing osTag")
            << (json("{'win7': {'installerMd5': 'a', 'installerUrl': 'http://h/x'}}")) << "2.0"
            << false << false << false << none << QStringList() << QStringList() << true;

        QStringList installerOnly = none;
        installerOnly[2] = "i1";
        installerOnly[3] = "http://h/setup.dmg";
        installerOnly[0] = "f1";
        installerOnly[1] = "http://h/fix.7z";
        QTest::newRow("missing version")
            << complete << "1.9" << true << true << false << installerOnly
            << QStringList{"1.0", "1.1"} << QStringList() << true;

        QTest::newRow("partial without replace values")
            << (json("{'mac': {'partialPacket': {'2.0':"
                     "                   {'partialPacketMd5': 'p1', 'partialPacketUrl': "
                     "'http://h/p.7z'}}}}"))
            << "2.0" << false << false << false
            << QStringList{"", "", "", "", "p1", "http://h/p.7z", "", ""} << QStringList()
            << QStringList() << true;

        QTest::newRow("md5 as number and boolean, url as number")
            << (json("{'mac': {'installerMd5': 12345, 'installerUrl': 'http://h/s',"
                     "                   'fixUpdatePacket': {'fixUpdatePacketMd5': true, "
                     "'fixUpdatePacketUrl': 5}}}"))
            << "2.0" << false << true << false
            << QStringList{"true", "", "12345", "http://h/s", "", "", "", ""} << QStringList()
            << QStringList() << true;

        QTest::newRow("md5 as array or object reads empty")
            << (json(
                   "{'mac': {'installerMd5': ['a'], 'installerUrl': 'http://h/s',"
                   "                   'fixUpdatePacket': {'fixUpdatePacketMd5': {'a': 1},"
                   "                                       'fixUpdatePacketUrl': 'http://h/f'}}}"))
            << "2.0" << false << false << false
            << QStringList{"", "http://h/f", "", "http://h/s", "", "", "", ""} << QStringList()
            << QStringList() << true;

        QTest::newRow("used versions as a string")
            << (json("{'mac': {'fixUpdatePacket': {'fixUpdatePacketMd5': 'f1',"
                     "                   'fixUpdatePacketUrl': 'http://h/f', "
                     "'fixUpdateUesedVersion': '2.0'}}}"))
            << "2.0" << true << false << false
            << QStringList{"f1", "http://h/f", "", "", "", "", "", ""} << QStringList()
            << QStringList() << true;

        QTest::newRow("osTag member not an object")
            << (json("{'mac': 'installerMd5'}")) << "2.0" << false << false << false << none
            << QStringList() << QStringList() << true;

        QTest::newRow("empty file") << QByteArray() << "2.0" << false << false << false << none
                                    << QStringList() << QStringList() << false;
        QTest::newRow("invalid json")
            << complete.left(complete.size() / 2) << "2.0" << false << false << false << none
            << QStringList() << QStringList() << false;
        QTest::newRow("top level array")
            << QByteArray("[{\"mac\": {}}]") << "2.0" << false << false << false << none
            << QStringList() << QStringList() << false;
    }

    void readers()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, version);
        QFETCH(QStringList, values);

        UpdateConfig config;
        config.configPath = writeConfig(document);
        QVERIFY(!config.configPath.isEmpty());

        QTEST(config.getFixUpdateInfo(QStringLiteral("mac")), "fixOk");
        QTEST(config.getInstallerInfo(QStringLiteral("mac")), "installerOk");
        QTEST(config.getPartialPacketInfo(QStringLiteral("mac"), version), "partialOk");

        QCOMPARE(QString::fromUtf8(config.fixUpdatePacketMd5), values.at(0));
        QCOMPARE(config.fixUpdatePacketUrl, values.at(1));
        QCOMPARE(QString::fromUtf8(config.installerMd5), values.at(2));
        QCOMPARE(config.installerUrl, values.at(3));
        QCOMPARE(QString::fromUtf8(config.partialPacketMd5), values.at(4));
        QCOMPARE(config.partialPacketUrl, values.at(5));
        QCOMPARE(QString::fromUtf8(config.replacePacketMd5), values.at(6));
        QCOMPARE(config.replacePacketUrl, values.at(7));
        QTEST(QVariant(config.fixUpdateUesedVersion.toVariantList()).toStringList(),
              "usedVersions");

        QStringList modify;
        for (auto it = config.modify.cbegin(); it != config.modify.cend(); ++it)
            modify << QStringList{it.key(), it->oldFileMd5, it->newFileMd5, it->filePatch}.join(
                '|');
        QTEST(modify, "modify");

        QStringList expectedLog{"fixUpdatePacketMd5 " + quoted(values.at(0)),
                                "fixUpdatePacketUrl " + quoted(values.at(1))};
        QFETCH(bool, isObject);
        if (isObject)
            expectedLog << "installerMd5: " + quoted(values.at(2))
                        << "installerUrl: " + quoted(values.at(3));
        expectedLog << "partialPacketMd5: " + quoted(values.at(4))
                    << "partialPacketUrl: " + quoted(values.at(5))
                    << "replacePacketMd5: " + quoted(values.at(6))
                    << "replacePacketUrl: " + quoted(values.at(7));
        QCOMPARE(LogCapture::lines(), expectedLog);
    }

    // A file that cannot be opened logs only the reader's own failure text and
    // leaves every field as it was.
    void unreadableFile()
    {
        UpdateConfig config;
        config.configPath = dir.filePath(QStringLiteral("missing.json"));
        config.fixUpdatePacketMd5 = "f";
        config.fixUpdatePacketUrl = QStringLiteral("u");
        config.installerMd5 = "i";
        config.installerUrl = QStringLiteral("u");
        config.partialPacketMd5 = "p";
        config.replacePacketUrl = QStringLiteral("u");

        QVERIFY(!config.getFixUpdateInfo(QStringLiteral("mac")));
        QVERIFY(!config.getInstallerInfo(QStringLiteral("mac")));
        QVERIFY(!config.getPartialPacketInfo(QStringLiteral("mac"), QStringLiteral("2.0")));

        QCOMPARE(LogCapture::lines(),
                 (QStringList{"Get FixUpdate Info ,Open update config failed",
                              "Get Installer Info,Open update config failed",
                              "Get partialPacket Info,Open update config failed"}));
        QCOMPARE(config.fixUpdatePacketMd5, QByteArray("f"));
        QCOMPARE(config.installerMd5, QByteArray("i"));
        QCOMPARE(config.installerUrl, QStringLiteral("u"));
        QCOMPARE(config.partialPacketMd5, QByteArray("p"));
        QCOMPARE(config.replacePacketUrl, QStringLiteral("u"));
    }

    // A restart reads a new configuration into the same holder: the packet
    // values of the earlier read are gone, patch entries accumulate, and a
    // document that does not parse keeps the used versions.
    void laterReadsKeepEarlierValues()
    {
        UpdateConfig config;
        config.configPath = writeConfig(completeDocument);
        QVERIFY(config.getFixUpdateInfo(QStringLiteral("mac")));
        QVERIFY(config.getInstallerInfo(QStringLiteral("mac")));
        QVERIFY(config.getPartialPacketInfo(QStringLiteral("mac"), QStringLiteral("2.0")));

        config.configPath = writeConfig(
            json("{'mac': {'partialPacket': {'2.0': {'modify':"
                 "            {'patch': {'m.dll': {'filePatch': 'new.patch'}, 'n.dll': {}}}}}}}"));
        QVERIFY(!config.getInstallerInfo(QStringLiteral("mac")));
        QVERIFY(!config.getPartialPacketInfo(QStringLiteral("mac"), QStringLiteral("2.0")));
        QCOMPARE(config.modify.keys(), (QStringList{"a/b.dll", "m.dll", "n.dll", "z.dll"}));
        QCOMPARE(config.modify.value(QStringLiteral("m.dll")).filePatch,
                 QStringLiteral("new.patch"));
        QVERIFY(config.installerMd5.isEmpty() && config.installerUrl.isEmpty());
        QVERIFY(config.partialPacketMd5.isEmpty() && config.partialPacketUrl.isEmpty() &&
                config.replacePacketMd5.isEmpty() && config.replacePacketUrl.isEmpty());

        config.configPath = writeConfig("not json");
        QVERIFY(!config.getFixUpdateInfo(QStringLiteral("mac")));
        QVERIFY(config.fixUpdatePacketMd5.isEmpty());
        QCOMPARE(config.fixUpdateUesedVersion.size(), 2);
        QVERIFY(!config.getPartialPacketInfo(QStringLiteral("mac"), QStringLiteral("2.0")));
        QCOMPARE(config.modify.size(), 4);

        // A document that parses replaces the array, even with nothing.
        config.configPath = writeConfig("{}");
        QVERIFY(!config.getFixUpdateInfo(QStringLiteral("mac")));
        QVERIFY(config.fixUpdateUesedVersion.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdateConfig)
#include "tst_updateconfig.moc"
