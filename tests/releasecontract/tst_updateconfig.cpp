#include "logcapture.h"
#include "releasecontract/updateconfig.h"

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

// The values the readers fill, by configuration key; empty ones are left out.
using Values = QMap<QString, QString>;

// One document and what reading it gives.
struct Reading
{
    QByteArray document;
    QString version = QStringLiteral("2.0");
    // What getFixUpdateInfo, getInstallerInfo and getPartialPacketInfo return.
    bool fixOk = false;
    bool installerOk = false;
    bool partialOk = false;
    Values values;
    QStringList usedVersions;
    QMap<QString, PatchEntry> modify;
    // Only a document that parses to an object makes the installer reader log.
    bool isObject = true;
};
} // namespace

Q_DECLARE_METATYPE(Reading)

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
        QTest::addColumn<Reading>("reading");
        const auto row = [](const char *name, const QByteArray &document, const Reading &fields) {
            Reading reading = fields;
            reading.document = document;
            QTest::newRow(name) << reading;
        };
        const Values installer{{"installerMd5", "i1"}, {"installerUrl", "http://h/setup.dmg"}};
        const Values selfUpdate{{"fixUpdatePacketMd5", "f1"},
                                {"fixUpdatePacketUrl", "http://h/fix.7z"}};

        Reading complete;
        complete.fixOk = complete.installerOk = complete.partialOk = true;
        complete.values = installer;
        complete.values.insert(selfUpdate);
        complete.values.insert({{"partialPacketMd5", "p1"},
                                {"partialPacketUrl", "http://h/p.7z"},
                                {"replacePacketMd5", "r1"},
                                {"replacePacketUrl", "http://h/r.7z"}});
        complete.usedVersions = QStringList{"1.0", "1.1"};
        // Members of "patch" come sorted by name; a number reads as its text.
        complete.modify = {{"a/b.dll", {"bo", "7", "b.patch"}},
                           {"m.dll", {"", "mn", ""}},
                           {"z.dll", {"zo", "zn", "z.patch"}}};
        row("complete, patch members sorted by name", completeDocument, complete);

        row("missing osTag", json("{'win7': {'installerMd5': 'a', 'installerUrl': 'http://h/x'}}"),
            Reading());

        Reading missingVersion;
        missingVersion.fixOk = missingVersion.installerOk = true;
        missingVersion.values = installer;
        missingVersion.values.insert(selfUpdate);
        missingVersion.usedVersions = QStringList{"1.0", "1.1"};
        missingVersion.version = QStringLiteral("1.9");
        row("missing version", completeDocument, missingVersion);

        Reading partialOnly;
        partialOnly.values = {{"partialPacketMd5", "p1"}, {"partialPacketUrl", "http://h/p.7z"}};
        row("partial without replace values",
            json("{'mac': {'partialPacket': {'2.0':"
                 "  {'partialPacketMd5': 'p1', 'partialPacketUrl': 'http://h/p.7z'}}}}"),
            partialOnly);

        Reading scalars;
        scalars.installerOk = true;
        scalars.values = {{"fixUpdatePacketMd5", "true"},
                          {"installerMd5", "12345"},
                          {"installerUrl", "http://h/s"}};
        row("md5 as number and boolean, url as number",
            json("{'mac': {'installerMd5': 12345, 'installerUrl': 'http://h/s',"
                 "  'fixUpdatePacket': {'fixUpdatePacketMd5': true, 'fixUpdatePacketUrl': 5}}}"),
            scalars);

        Reading containers;
        containers.values = {{"fixUpdatePacketUrl", "http://h/f"}, {"installerUrl", "http://h/s"}};
        row("md5 as array or object reads empty",
            json("{'mac': {'installerMd5': ['a'], 'installerUrl': 'http://h/s',"
                 "  'fixUpdatePacket': {'fixUpdatePacketMd5': {'a': 1},"
                 "                      'fixUpdatePacketUrl': 'http://h/f'}}}"),
            containers);

        Reading versionsAsString;
        versionsAsString.fixOk = true;
        versionsAsString.values = {{"fixUpdatePacketMd5", "f1"},
                                   {"fixUpdatePacketUrl", "http://h/f"}};
        row("used versions as a string",
            json("{'mac': {'fixUpdatePacket': {'fixUpdatePacketMd5': 'f1',"
                 "  'fixUpdatePacketUrl': 'http://h/f', 'fixUpdateUesedVersion': '2.0'}}}"),
            versionsAsString);

        row("osTag member not an object", json("{'mac': 'installerMd5'}"), Reading());

        Reading notAnObject;
        notAnObject.isObject = false;
        row("empty file", QByteArray(), notAnObject);
        row("invalid json", completeDocument.left(completeDocument.size() / 2), notAnObject);
        row("top level array", QByteArray("[{\"mac\": {}}]"), notAnObject);
    }

    void readers()
    {
        QFETCH(Reading, reading);
        UpdateConfig config;
        config.configPath = writeConfig(reading.document);
        QVERIFY(!config.configPath.isEmpty());

        QCOMPARE(config.getFixUpdateInfo(QStringLiteral("mac")), reading.fixOk);
        QCOMPARE(config.getInstallerInfo(QStringLiteral("mac")), reading.installerOk);
        QCOMPARE(config.getPartialPacketInfo(QStringLiteral("mac"), reading.version),
                 reading.partialOk);

        const QList<QPair<const char *, QString>> values{
            {"fixUpdatePacketMd5", QString::fromUtf8(config.fixUpdatePacketMd5)},
            {"fixUpdatePacketUrl", config.fixUpdatePacketUrl},
            {"installerMd5", QString::fromUtf8(config.installerMd5)},
            {"installerUrl", config.installerUrl},
            {"partialPacketMd5", QString::fromUtf8(config.partialPacketMd5)},
            {"partialPacketUrl", config.partialPacketUrl},
            {"replacePacketMd5", QString::fromUtf8(config.replacePacketMd5)},
            {"replacePacketUrl", config.replacePacketUrl}};
        Values read;
        for (const auto &value : values) {
            if (!value.second.isEmpty())
                read.insert(QLatin1String(value.first), value.second);
        }
        QCOMPARE(read, reading.values);
        QCOMPARE(QVariant(config.fixUpdateUesedVersion.toVariantList()).toStringList(),
                 reading.usedVersions);
        QCOMPARE(config.modify.keys(), reading.modify.keys());
        for (auto it = reading.modify.cbegin(); it != reading.modify.cend(); ++it) {
            const PatchEntry entry = config.modify.value(it.key());
            QCOMPARE(entry.oldFileMd5, it->oldFileMd5);
            QCOMPARE(entry.newFileMd5, it->newFileMd5);
            QCOMPARE(entry.filePatch, it->filePatch);
        }

        // Each reader logs its values; the installer's only from an object.
        const auto logged = [&](const char *text, const char *field) {
            return QLatin1String(text) + quoted(reading.values.value(QLatin1String(field)));
        };
        QStringList expectedLog{logged("fixUpdatePacketMd5 ", "fixUpdatePacketMd5"),
                                logged("fixUpdatePacketUrl ", "fixUpdatePacketUrl")};
        if (reading.isObject)
            expectedLog << logged("installerMd5: ", "installerMd5")
                        << logged("installerUrl: ", "installerUrl");
        expectedLog << logged("partialPacketMd5: ", "partialPacketMd5")
                    << logged("partialPacketUrl: ", "partialPacketUrl")
                    << logged("replacePacketMd5: ", "replacePacketMd5")
                    << logged("replacePacketUrl: ", "replacePacketUrl");
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

        // A document that does not parse clears what the readers own.
        config.configPath = writeConfig(completeDocument);
        QVERIFY(config.getInstallerInfo(QStringLiteral("mac")));
        QVERIFY(config.getPartialPacketInfo(QStringLiteral("mac"), QStringLiteral("2.0")));
        config.configPath = writeConfig("not json");
        QVERIFY(!config.getFixUpdateInfo(QStringLiteral("mac")));
        QVERIFY(config.fixUpdatePacketMd5.isEmpty());
        QCOMPARE(config.fixUpdateUesedVersion.size(), 2);
        QVERIFY(!config.getInstallerInfo(QStringLiteral("mac")));
        QVERIFY(config.installerMd5.isEmpty() && config.installerUrl.isEmpty());
        QVERIFY(!config.getPartialPacketInfo(QStringLiteral("mac"), QStringLiteral("2.0")));
        QVERIFY(config.partialPacketMd5.isEmpty() && config.replacePacketUrl.isEmpty());
        QCOMPARE(config.modify.size(), 4);

        // A document that parses replaces the array, even with nothing.
        config.configPath = writeConfig("{}");
        QVERIFY(!config.getFixUpdateInfo(QStringLiteral("mac")));
        QVERIFY(config.fixUpdateUesedVersion.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdateConfig)
#include "tst_updateconfig.moc"
