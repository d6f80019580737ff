#include "control/acceptedreleases.h"
#include "control/updatecontrol.h"
#include "controltestfixture.h"
#include "releasecontract/logfolder.h"
#include "shared/vendorconfig.h"
#include "testhttpserver.h"
#include "updatesandbox.h"
#include "windowrecorder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTextCodec>
#include <QThread>
#include <QTranslator>

namespace {
// How often the server saw a method on a file.
struct RequestCount
{
    const char *method;
    const char *file;
    int count;
};

int logLinesStartingWith(const QString &start)
{
    const QStringList lines = ControlTestFixture::log();
    int count = 0;
    for (const QString &line : lines)
        count += line.startsWith(start) ? 1 : 0;
    return count;
}
} // namespace

Q_DECLARE_METATYPE(QList<RequestCount>)

// A real controller on its own thread, driven through whole updates against a
// real server, with a recording receiver in place of the window.
class TestUpdateControl : public QObject
{
    Q_OBJECT

public:
    enum Scenario
    {
        SelfUpdateInfoMissing,
        InstallerInfoMissing,
        NoPartialForVersion,
        PartialPresent,
        PartialMd5Wrong,
        PartialMd5UpperCase,
        ReplaceMd5UpperCase,
        InstallerMd5UpperCase,
        InstallerDoesNotStart,
        PartialNotUnpackable,
        PatchFailsReplaceDownloaded,
        PatchFailsReplaceUnpacked,
        ReplaceInWorkFolder,
        TwoFilesSameMd5,
        HttpsConfigUrl,
        ConfigTargetNotCreatable,
        ConfigMissingOnServer,
        PacketMissingOnServer,
        PacketNameWithBackslash,
        ShortPacketExtension,
        SelfUpdateListed,
        // With a trusted key: a signature that holds, and four that do not.
        SignedConfig,
        SignedConfigChanged,
        SignatureMissing,
        SignedByOtherKey,
        SignatureTruncated,
        // A signature that holds over a statement that does not admit the release.
        OlderReleaseReplayed,
        StatementForOtherChannel,
        StatementExpired,
        StatementOlderThanAccepted,
        PacketSha256Differs,
        PacketLargerThanSigned,
        SignatureAnnouncedHuge,
        ConfigAnnouncedLarge,
    };
    Q_ENUM(Scenario)

    // The ways the update program ends well.
    enum Route
    {
        InstallerRoute,
        PatchRoute,
        ReplaceFallbackRoute,
        SelfUpdateRoute,
        // Started as the self-updated copy, with a configuration that lacks
        // the self-update information a first run needs.
        SelfUpdatedCopyRoute,
    };
    Q_ENUM(Route)

private:
    std::unique_ptr<ControlTestFixture> fixture;
    std::unique_ptr<WindowRecorder> window;
    UpdateControl *controller = nullptr;
    // The keys the controller trusts; none in a build without keys.
    QString trustedKeys;

    // What the window's startUpdate does, with the recorder as the window.
    void startController(const QString &configUrl, const QString &version)
    {
        controller = new UpdateControl(nullptr);
        controller->skipFix = false;
        controller->osTag = QStringLiteral("mac");
        controller->configUrl = configUrl;
        controller->downloadUrl = configUrl;
        controller->version = version;
        controller->installPath = fixture->installPath;
        controller->trustedKeys = trustedKeys;
        controller->logFileName = QStringLiteral("update_test.log");
        window->attach(controller);
        controller->mainControlSlot();
    }

private slots:
    void init()
    {
        fixture = std::make_unique<ControlTestFixture>();
        QVERIFY2(fixture->isValid(), qPrintable(fixture->errorText()));
        window = std::make_unique<WindowRecorder>();
        controller = nullptr;
        trustedKeys.clear();
    }

    void cleanup()
    {
        if (controller) {
            // The controller's thread runs for the process's life; a test
            // stops it so that nothing of this update reaches the next one.
            // The wait is bounded: after a failed test the thread may still be
            // waiting for a download that this thread would have to run.
            controller->workerThread->quit();
            controller->workerThread->wait(10000);
        }
        window.reset();
        fixture.reset();
    }

    void update_data()
    {
        QTest::addColumn<bool>("nginx");
        QTest::addColumn<Scenario>("scenario");
        // See WindowRecorder::ending; "trellim <folder>" stands for a hand-off
        // of that folder, the setup program's start and the "exit" that follows.
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("restarts");         // "ReStart Update" lines
        QTest::addColumn<QStringList>("logLines"); // starts of lines that must be logged
        QTest::addColumn<QList<RequestCount>>("requests");

        const QString updateError = QStringLiteral("box true ") + UpdateControl::updateErrorText();
        const QString notFound = QStringLiteral(
            "box false The download file  is not found,please check the download url");
        const QStringList patched{QStringLiteral("patch success!")};
        const QString refused = QStringLiteral("update config signature refused: \"");
        const QString unsignedFile =
            QStringLiteral("release statement refused the file: \"the SHA-256 of http://");
        struct Row
        {
            const char *tag;
            Scenario scenario;
            QString ending;
            int restarts;
            QStringList logLines;
            QList<RequestCount> requests;
        };
        const QList<Row> rows{
            {"self-update information missing restarts",
             SelfUpdateInfoMissing,
             updateError,
             5,
             {"Check whether get newest update packet", "Get FixUpdatePacket Info error"},
             {{"HEAD", "update.json", 6}}},
            {"installer information missing restarts",
             InstallerInfoMissing,
             updateError,
             5,
             {"Get Installer Info error"},
             {{"HEAD", "update.json", 6}, {"HEAD", "partial.pak", 0}}},
            {"no partial packet takes the installer route",
             NoPartialForVersion,
             "exit",
             0,
             {"get PartialPacket Info error", "start installer success"},
             {{"HEAD", "setup.dmg", 1}, {"GET", "setup.dmg", 6}, {"HEAD", "partial.pak", 0}}},
            {"partial packet takes the patch route",
             PartialPresent,
             "trellim partial",
             0,
             {"start patch", "patch success!", "program \"<install>/backup/Trellim.exe\"",
              "start Trellim success"},
             {{"HEAD", "partial.pak", 1},
              {"GET", "partial.pak", 6},
              {"HEAD", "replace.pak", 0},
              {"HEAD", "setup.dmg", 0}}},
            {"partial md5 mismatch restarts",
             PartialMd5Wrong,
             updateError,
             5,
             {"Download Partial Packet md5 is not match",
              "\"json: PartialPacket's md5 <md5 replace.pak>\" \"file: PartialPacket's md5 "
              "<md5 partial.pak>\""},
             {{"HEAD", "partial.pak", 6}}},
            {"upper-case partial md5 never matches",
             PartialMd5UpperCase,
             updateError,
             5,
             {"Download Partial Packet md5 is not match"},
             {{"HEAD", "partial.pak", 6}}},
            {"upper-case replace md5 never matches",
             ReplaceMd5UpperCase,
             updateError,
             5,
             {"Download Replace Packet md5 is not match"},
             {{"HEAD", "replace.pak", 6}}},
            {"upper-case installer md5 shows the box at once",
             InstallerMd5UpperCase,
             updateError,
             0,
             {"Download installer md5 is not match"},
             {{"HEAD", "setup.dmg", 1}}},
            {"installer that does not start is tried five times",
             InstallerDoesNotStart,
             updateError,
             0,
             {"start installer failed"},
             {{"HEAD", "setup.dmg", 1}}},
            {"packet that cannot be unpacked is fetched once",
             PartialNotUnpackable,
             updateError,
             5,
             {"UncompressPartialPacketFailed "},
             {{"HEAD", "partial.pak", 1}, {"GET", "partial.pak", 6}}},
            {"failing patch falls back to a downloaded replace packet",
             PatchFailsReplaceDownloaded,
             "trellim replace",
             0,
             {"patch failed: \"<install>/app.dll  md5 is not match",
              "****<file>*****<filepatch>*****<oldFileMd5>****<newFileMd5>************",
              "\"app.dll\" \"app.patch\" \"0123456789abcdef0123456789abcdef\"",
              "\"lib/core.dll\" \"lib/core.patch\"", QString(82, QLatin1Char('*')),
              "UncompressReplacePacketSuccess ", "start Trellim success"},
             {{"HEAD", "partial.pak", 1}, {"HEAD", "replace.pak", 1}}},
            {"failing patch falls back to a replace packet in the work folder",
             PatchFailsReplaceUnpacked,
             "trellim replace",
             0,
             {"patch failed:"},
             {{"HEAD", "partial.pak", 1}, {"HEAD", "replace.pak", 0}}},
            {"replace packet in the work folder is used at once",
             ReplaceInWorkFolder,
             "trellim replace",
             0,
             {"UncompressReplacePacketSuccess "},
             {{"HEAD", "update.json", 1}, {"HEAD", "partial.pak", 0}, {"HEAD", "replace.pak", 0}}},
            {"of two files with the same md5 the later by name is used",
             TwoFilesSameMd5,
             "trellim B_copy",
             0,
             {},
             {{"HEAD", "replace.pak", 0}}},
            {"https configuration url is refused",
             HttpsConfigUrl,
             "box false Download url is error,Please login and download again",
             0,
             {},
             {{"HEAD", "update.json", 0}, {"GET", "update.json", 0}}},
            {"target that cannot be created restarts",
             ConfigTargetNotCreatable,
             updateError,
             5,
             {"start download failed \"<work>/update.json\""},
             {}},
            {"configuration missing on the server",
             ConfigMissingOnServer,
             notFound,
             0,
             {},
             {{"HEAD", "absent.json", 1}, {"GET", "absent.json", 0}}},
            {"packet missing on the server",
             PacketMissingOnServer,
             notFound,
             0,
             {},
             {{"HEAD", "absent.pak", 1}, {"GET", "absent.pak", 0}}},
            {"packet name with a backslash is refused",
             PacketNameWithBackslash,
             "box false Download url is error,Please login and download again",
             0,
             {},
             {{"HEAD", "partial.pak", 0}}},
            {"packet with a two-character extension unpacks into its own folder",
             ShortPacketExtension,
             "trellim p",
             0,
             {"outUncompressFilesPath \"<work>/p\"", "patch success!"},
             {{"GET", "p.7z", 6}, {"HEAD", "replace.pak", 0}}},
            {"listed version takes the self-update route",
             SelfUpdateListed,
             "exit",
             0,
             {"Check whether get newest update packet", "download fixUpdatePacket Success",
              "updateProcess \"<install>/fixupdate/update.exe\"", "start update"},
             {{"GET", "fix.pak", 6}, {"HEAD", "partial.pak", 0}}},
            {"configuration signed by a trusted key is read",
             SignedConfig,
             "trellim partial",
             0,
             {"update config signature verified"},
             {{"HEAD", "update.json.sig", 1}, {"GET", "partial.pak", 6}}},
            {"configuration changed after signing is refused",
             SignedConfigChanged,
             updateError,
             5,
             {refused + "the configuration's SHA-256 is "},
             {{"HEAD", "update.json.sig", 6}, {"HEAD", "partial.pak", 0}}},
            {"configuration without signature is refused",
             SignatureMissing,
             updateError,
             5,
             {refused + "it cannot be fetched: The download file  is not found,please check the "
                        "download url\""},
             {{"HEAD", "update.json.sig", 6}, {"HEAD", "partial.pak", 0}}},
            {"configuration signed by another key is refused",
             SignedByOtherKey,
             updateError,
             5,
             {refused + "no trusted key made this signature\""},
             {{"HEAD", "partial.pak", 0}}},
            // Refused by its announced size, before a byte of it is read.
            {"signature announced at 1.5 GB is refused unread",
             SignatureAnnouncedHuge,
             updateError,
             5,
             {"download refused: \"<url update.json.sig>\" announces 1610612736 bytes"},
             {{"HEAD", "update.json.sig", 6}, {"GET", "update.json.sig", 0}}},
            {"configuration announced at 5 MB is refused unread",
             ConfigAnnouncedLarge,
             updateError,
             5,
             {"download refused: \"<url big.json>\" announces 5242880 bytes"},
             {{"HEAD", "big.json", 6}, {"GET", "big.json", 0}}},
            {"truncated signature is refused",
             SignatureTruncated,
             updateError,
             5,
             {refused + "not a signed release statement\""},
             {{"HEAD", "partial.pak", 0}}},
            {"older release replayed on a newer installation is refused",
             OlderReleaseReplayed,
             updateError,
             5,
             {refused + "it brings 2.0, older than the installed 3.0\""},
             {{"HEAD", "setup.dmg", 0}}},
            {"statement for another channel is refused",
             StatementForOtherChannel,
             updateError,
             5,
             {refused + "it is for the channel \\\"beta.json\\\", not \\\"update.json\\\"\""},
             {{"HEAD", "partial.pak", 0}}},
            {"expired statement is refused",
             StatementExpired,
             updateError,
             5,
             {refused + "it expired at "},
             {{"HEAD", "partial.pak", 0}}},
            {"statement signed before the newest accepted one is refused",
             StatementOlderThanAccepted,
             updateError,
             5,
             {refused + "it was signed at "},
             {{"HEAD", "partial.pak", 0}}},
            {"packet whose SHA-256 differs from the statement is fetched anew and refused",
             PacketSha256Differs,
             updateError,
             5,
             {unsignedFile},
             {{"HEAD", "partial.pak", 6}, {"GET", "partial.pak", 36}}},
            {"packet announced larger than the statement says is refused before it is fetched",
             PacketLargerThanSigned,
             updateError,
             5,
             {QStringLiteral("download refused: ")},
             {{"HEAD", "partial.pak", 6}, {"GET", "partial.pak", 0}}},
        };
        for (bool nginx : {false, true}) {
            for (const Row &row : rows) {
                QTest::addRow("%s, %s", nginx ? "nginx" : "test server", row.tag)
                    << nginx << row.scenario << row.ending << row.restarts << row.logLines
                    << row.requests;
            }
        }
    }

    void update()
    {
        QFETCH(bool, nginx);
        QFETCH(Scenario, scenario);
        QFETCH(QString, ending);

        QVERIFY2(fixture->startServer(nginx), qPrintable(fixture->errorText()));
        ControlTestFixture::Config values = fixture->defaultConfig();
        QString version = QStringLiteral("2.0");
        QString configUrl = fixture->url(QStringLiteral("update.json"));
        switch (scenario) {
        case SelfUpdateInfoMissing:
            values.withFixUpdatePacket = false;
            break;
        case InstallerInfoMissing:
            values.installerUrl.clear();
            break;
        case NoPartialForVersion:
            version = QStringLiteral("1.9");
            break;
        case PartialPresent:
            break;
        case PartialMd5Wrong:
            values.partialPacketMd5 = values.replacePacketMd5;
            break;
        case PartialMd5UpperCase:
            values.partialPacketMd5 = values.partialPacketMd5.toUpper();
            break;
        case ReplaceMd5UpperCase:
            values.breakPatch();
            values.replacePacketMd5 = values.replacePacketMd5.toUpper();
            break;
        case InstallerMd5UpperCase:
            version = QStringLiteral("1.9");
            values.installerMd5 = values.installerMd5.toUpper();
            break;
        case InstallerDoesNotStart:
            version = QStringLiteral("1.9");
            values.installerMd5 =
                fixture->publish(QStringLiteral("setup.dmg"), QByteArray("no program\n"));
            break;
        case PartialNotUnpackable:
            values.partialPacketMd5 =
                fixture->publish(QStringLiteral("partial.pak"), QByteArray("not an archive"));
            break;
        case PatchFailsReplaceDownloaded:
            values.breakPatch();
            break;
        case PatchFailsReplaceUnpacked:
            values.breakPatch();
            values.partialPacketMd5 = fixture->publishPartialCarryingReplace();
            break;
        case ReplaceInWorkFolder:
            QVERIFY(fixture->placeInWorkFolder(QStringLiteral("replace.pak"),
                                               fixture->packet(QStringLiteral("replace.pak"))));
            break;
        case TwoFilesSameMd5:
            // Case-sensitive order would pick the other one.
            QVERIFY(fixture->placeInWorkFolder(QStringLiteral("a_copy.pak"),
                                               fixture->packet(QStringLiteral("a_copy.pak"))));
            QVERIFY(fixture->placeInWorkFolder(QStringLiteral("B_copy.pak"),
                                               fixture->packet(QStringLiteral("B_copy.pak"))));
            values.replacePacketMd5 = fixture->md5(QStringLiteral("a_copy.pak"));
            break;
        case HttpsConfigUrl:
            configUrl.replace(QStringLiteral("http:"), QStringLiteral("https:"));
            break;
        case ConfigTargetNotCreatable:
            QVERIFY(QDir().mkpath(fixture->updateDir + QStringLiteral("/update.json")));
            break;
        case ConfigMissingOnServer:
            configUrl = fixture->url(QStringLiteral("absent.json"));
            break;
        case PacketMissingOnServer:
            values.partialPacketUrl = fixture->url(QStringLiteral("absent.pak"));
            break;
        case ShortPacketExtension:
            // A patch file of another packet in the work folder must survive.
            QVERIFY(fixture->placeInWorkFolder(QStringLiteral("other.patch"), "kept"));
            values.partialPacketMd5 = fixture->publishPartialAs(QStringLiteral("p.7z"));
            values.partialPacketUrl = fixture->url(QStringLiteral("p.7z"));
            break;
        case SelfUpdateListed:
            values.fixUpdateUesedVersion = QStringList{QStringLiteral("1.0"), version};
            break;
        case OlderReleaseReplayed:
            // No partial packet for 3.0: the installer of 2.0 would run.
            version = QStringLiteral("3.0");
            Q_FALLTHROUGH();
        case SignedConfig:
        case SignedConfigChanged:
        case SignatureMissing:
        case SignedByOtherKey:
        case SignatureTruncated:
        case StatementForOtherChannel:
        case StatementExpired:
        case StatementOlderThanAccepted:
        case PacketSha256Differs:
        case PacketLargerThanSigned:
            trustedKeys = ControlTestFixture::publicKey(ControlTestFixture::TrustedKey);
            break;
        case SignatureAnnouncedHuge:
            trustedKeys = ControlTestFixture::publicKey(ControlTestFixture::TrustedKey);
            QVERIFY(
                fixture->publishSparse(QStringLiteral("update.json.sig"), 1536 * 1024 * 1024LL));
            break;
        case ConfigAnnouncedLarge:
            QVERIFY(fixture->publishSparse(QStringLiteral("big.json"), 5 * 1024 * 1024));
            configUrl = fixture->url(QStringLiteral("big.json"));
            break;
        case PacketNameWithBackslash:
            // Where a backslash separates folders it would lead out of the work folder.
            values.partialPacketUrl = fixture->url(QStringLiteral("..%5C..%5Cpartial.pak"));
            break;
        }
        QVERIFY(fixture->publishConfig(values));
        const QByteArray document = values.toJson();
        ReleaseStatement statement = fixture->statement(document);
        ControlTestFixture::SigningKey key = ControlTestFixture::TrustedKey;
        QString error;
        switch (scenario) {
        case SignedConfigChanged:
            fixture->publish(QStringLiteral("update.json"),
                             QByteArray(document).replace("2.0", "2.1"));
            break;
        case SignedByOtherKey:
            key = ControlTestFixture::OtherKey;
            break;
        case StatementForOtherChannel:
            statement.channel = QStringLiteral("beta.json");
            break;
        case StatementExpired:
            statement.expiresAt = statement.signedAt.addSecs(-60);
            break;
        case StatementOlderThanAccepted:
            statement.signedAt = statement.signedAt.addDays(-1);
            QVERIFY(AcceptedReleases(LogFolder::acceptedReleasesPath())
                        .accept(fixture->installPath, statement.signedAt.addSecs(3600), &error));
            break;
        case PacketSha256Differs:
            // The packet keeps its MD5, as one made to collide with it would.
            statement.files[values.partialPacketUrl] =
                statement.files.value(values.replacePacketUrl);
            break;
        case PacketLargerThanSigned:
            statement.sizes[values.partialPacketUrl] -= 1;
            break;
        default:
            break;
        }
        // Without a trusted key no signature is ever asked for, so none is published.
        const QByteArray signature = ControlTestFixture::signatureFile(statement, key);
        if (!trustedKeys.isEmpty() && scenario != SignatureMissing &&
            scenario != SignatureAnnouncedHuge)
            fixture->publish(QStringLiteral("update.json.sig"),
                             scenario == SignatureTruncated ? signature.left(40) : signature);

        startController(configUrl, version);
        QTRY_VERIFY_WITH_TIMEOUT(!window->ending.isEmpty(), 60000);

        if (ending.startsWith(QLatin1String("trellim "))) {
            QTRY_COMPARE_WITH_TIMEOUT(window->handOff, ending.mid(8), 5000);
            QCOMPARE(window->ending, QStringLiteral("exit"));
            // The stand-in setup program records its arguments once it runs.
            QTRY_COMPARE_WITH_TIMEOUT(
                fixture->trellimArguments(),
                (QStringList{QLatin1Char('*') + fixture->installPath + QLatin1Char('*'),
                             QStringLiteral("*%1/%2*").arg(fixture->updateDir, window->handOff),
                             QStringLiteral("update_test.log"), QStringLiteral("update.json"),
                             version}),
                10000);
        } else {
            QCOMPARE(window->ending, ending);
            QVERIFY(fixture->trellimArguments().isEmpty());
            // An update that ends in an error box has started nothing.
            if (ending.startsWith(QLatin1String("box ")))
                QVERIFY(fixture->installerArguments().isEmpty());
        }
        QTEST(int(ControlTestFixture::log().count(
                  QStringLiteral(">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> ReStart Update"))),
              "restarts");
        QFETCH(QStringList, logLines);
        for (const QString &line : logLines) {
            const QString expected =
                QString(line)
                    .replace(QStringLiteral("<work>"), fixture->updateDir)
                    .replace(QStringLiteral("<install>"), fixture->installPath)
                    .replace(QStringLiteral("<url update.json.sig>"),
                             fixture->url(QStringLiteral("update.json.sig")))
                    .replace(QStringLiteral("<url big.json>"),
                             fixture->url(QStringLiteral("big.json")))
                    .replace(QStringLiteral("<md5 partial.pak>"),
                             QString::fromLatin1(fixture->md5(QStringLiteral("partial.pak"))))
                    .replace(QStringLiteral("<md5 replace.pak>"),
                             QString::fromLatin1(fixture->md5(QStringLiteral("replace.pak"))));
            QVERIFY2(logLinesStartingWith(expected) > 0, qPrintable(expected));
        }
        if (trustedKeys.isEmpty()) {
            QCOMPARE(fixture->requestCount("HEAD", QStringLiteral("update.json.sig")), 0);
            QCOMPARE(fixture->requestCount("GET", QStringLiteral("update.json.sig")), 0);
        }
        QFETCH(QList<RequestCount>, requests);
        for (const RequestCount &request : requests) {
            QVERIFY2(fixture->requestCount(request.method, QLatin1String(request.file)) ==
                         request.count,
                     qPrintable(QStringLiteral("%1 %2 %3")
                                    .arg(QLatin1String(request.method), QLatin1String(request.file))
                                    .arg(request.count)));
        }

        switch (scenario) {
        case NoPartialForVersion:
            QTRY_COMPARE_WITH_TIMEOUT(fixture->installerArguments(),
                                      (QStringList{QStringLiteral("/VERYSILENT"),
                                                   QStringLiteral("/DIR=") + fixture->installPath}),
                                      30000);
            break;
        case InstallerDoesNotStart:
            QCOMPARE(logLinesStartingWith(QStringLiteral("start installer failed")), 5);
            break;
        case PartialPresent:
            QCOMPARE(fixture->filesUnder(fixture->updateDir + QStringLiteral("/partial")),
                     fixture->newFiles());
            break;
        case SignedConfig:
            // Kept for the installation, so that no older release is taken after it.
            QCOMPARE(AcceptedReleases(LogFolder::acceptedReleasesPath())
                         .newestSigned(fixture->installPath),
                     statement.signedAt);
            break;
        case PartialMd5Wrong:
            // Each attempt fetched the packet afresh, and the last wrong one is gone.
            QCOMPARE(fixture->requestCount("GET", QStringLiteral("partial.pak")), 36);
            QVERIFY(!QFile::exists(fixture->updateDir + QStringLiteral("/partial.pak")));
            break;
        case SelfUpdateListed:
            QTRY_COMPARE_WITH_TIMEOUT(
                fixture->selfUpdateArguments(),
                (QStringList{QStringLiteral("-skipfix"), version, configUrl,
                             QLatin1Char('*') + fixture->installPath + QLatin1Char('*'),
                             QStringLiteral("update_test.log")}),
                10000);
            break;
        case PatchFailsReplaceDownloaded:
            // The replace packet is fetched with the progress bar, then unpacked
            // under the animation again.
            QCOMPARE(window->events.mid(8),
                     (QStringList{"label Downloading,Please wait", "hideMovie", "progress",
                                  "showMovie", "label Updating program", "exit"}));
            break;
        case ShortPacketExtension:
            QCOMPARE(fixture->filesUnder(fixture->updateDir + QStringLiteral("/p")),
                     fixture->newFiles());
            QVERIFY(QFile::exists(fixture->updateDir + QStringLiteral("/other.patch")));
            break;
        case HttpsConfigUrl:
            QCOMPARE(window->events.first(), QStringLiteral("label Preparing configuration file"));
            QVERIFY(window->events.contains(QStringLiteral("label Download url is error")));
            break;
        case ConfigMissingOnServer:
        case PacketMissingOnServer:
            QVERIFY(window->events.contains(QStringLiteral("label Get download file size error")));
            QVERIFY(logLinesStartingWith(QStringLiteral("start download failed")) == 0);
            break;
        default:
            break;
        }
    }

    // The update program built for the tests trusts the fixture's key.
    void testBuildTrustsTheTestKey()
    {
        QCOMPARE(ControlTestFixture::publicKey(ControlTestFixture::TrustedKey),
                 QStringLiteral(VELMORA_TEST_CONFIG_PUBLIC_KEY));
    }

    // The update-error text carries the build-time web host and is looked up
    // in the catalogue like the other texts of the controller.
    void updateErrorTextIsTranslated()
    {
        QVERIFY(UpdateControl::updateErrorText().contains(QStringLiteral(VELMORA_WEB_HOST)));
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(VELMORA_BINARY_DIR "/updater/resources/en_ch.qm")));
        QCoreApplication::installTranslator(&translator);
        const QString translated = UpdateControl::updateErrorText();
        QCoreApplication::removeTranslator(&translator);
        QVERIFY2(translated.startsWith(QStringLiteral("升级错误")), qPrintable(translated));
        QVERIFY(translated.contains(QStringLiteral(VELMORA_WEB_HOST)));
    }

    // A redirect loop is the hijack also when the size query meets it: the
    // box asks for the log upload, and the update does not restart.
    void redirectLoopOnConfigurationIsHijack()
    {
        TestHttpServer server;
        server.serve(QStringLiteral("/end.json"), "{}");
        server.redirectChain(QStringLiteral("/update.json"), 11, QStringLiteral("/end.json"));
        startController(server.url(QStringLiteral("/update.json")).toString(),
                        QStringLiteral("2.0"));
        QTRY_VERIFY_WITH_TIMEOUT(!window->ending.isEmpty(), 30000);
        QCOMPARE(window->ending,
                 QStringLiteral(
                     "box true Your broadband service provider hijacked the download "
                     "address, please download the latest version from <" VELMORA_WEB_HOST ">"));
        QCOMPARE(logLinesStartingWith(QStringLiteral(">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> ReStart")), 0);
        QCOMPARE(logLinesStartingWith(QStringLiteral("start download failed")), 0);
        for (const TestHttpServer::Request &request : server.requests())
            QCOMPARE(request.method, QByteArray("HEAD"));
    }

    void windowSignalsOfPatchUpdate_data()
    {
        QTest::addColumn<bool>("nginx");
        QTest::newRow("test server") << false;
        QTest::newRow("nginx") << true;
    }

    // What reaches the window, in order: the first stage's signals arrive
    // directly, the later ones queued from the controller's thread.
    void windowSignalsOfPatchUpdate()
    {
        QFETCH(bool, nginx);
        QVERIFY2(fixture->startServer(nginx), qPrintable(fixture->errorText()));
        const ControlTestFixture::Config values = fixture->defaultConfig();
        QVERIFY(fixture->publishConfig(values));

        startController(fixture->url(QStringLiteral("update.json")), QStringLiteral("2.0"));
        QTRY_VERIFY_WITH_TIMEOUT(!window->ending.isEmpty(), 60000);

        QCOMPARE(window->events,
                 (QStringList{"label Preparing configuration file", "showMovie", "progress",
                              "label Downloading,Please wait", "hideMovie", "progress", "showMovie",
                              "label Updating program", "exit"}));
        // Each download's last report reaches its whole size (the ranges share
        // their boundary bytes, so the sum may exceed it).
        const qint64 configSize = values.toJson().size();
        const qint64 packetSize = fixture->packet(QStringLiteral("partial.pak")).size();
        QCOMPARE(window->finalProgress.size(), 2);
        QCOMPARE(window->finalProgress.at(0).second, configSize);
        QVERIFY(window->finalProgress.at(0).first >= configSize);
        QCOMPARE(window->finalProgress.at(1).second, packetSize);
        QVERIFY(window->finalProgress.at(1).first >= packetSize);
    }

    void updateProgram_data()
    {
        QTest::addColumn<Route>("route");
        QTest::newRow("installer") << InstallerRoute;
        QTest::newRow("patch") << PatchRoute;
        QTest::newRow("replace packet after a failed patch") << ReplaceFallbackRoute;
        QTest::newRow("self-update, then patch") << SelfUpdateRoute;
        QTest::newRow("self-updated copy, patch") << SelfUpdatedCopyRoute;
    }

    // The program itself, as the main application starts it, against nginx,
    // with the real setup program in the installation: every route ends with
    // exit code 0 and, but for the installer's, an installation of the new
    // version with the old files in its backup folder.
    void updateProgram()
    {
        QFETCH(Route, route);
        QVERIFY2(fixture->startServer(true), qPrintable(fixture->errorText()));
        QVERIFY(fixture->installRealSetupProgram());
        ControlTestFixture::Config values = fixture->defaultConfig();
        switch (route) {
        case InstallerRoute:
            values.withPartialPacket = false;
            break;
        case PatchRoute:
            break;
        case ReplaceFallbackRoute:
            values.breakPatch();
            break;
        case SelfUpdateRoute:
            values.fixUpdateUesedVersion = QStringList{QStringLiteral("2.0")};
            values.fixUpdatePacketMd5 = fixture->publishRealSelfUpdatePacket();
            QVERIFY(!values.fixUpdatePacketMd5.isEmpty());
            break;
        case SelfUpdatedCopyRoute:
            values.withFixUpdatePacket = false;
            QVERIFY(fixture->installRealSetupProgram(QStringLiteral("fixupdate/Trellim.exe")));
            break;
        }
        QVERIFY(fixture->publishConfig(values));

        UpdateSandbox sandbox(fixture->root);
        QStringList arguments{QStringLiteral("2.0"), fixture->url(QStringLiteral("update.json")),
                              QLatin1Char('*') + fixture->installPath + QLatin1Char('*')};
        if (route == SelfUpdatedCopyRoute)
            arguments = QStringList{QStringLiteral("-skipfix")} + arguments +
                        QStringList{QStringLiteral("update_copy.log")};
        sandbox.start(arguments);
        QVERIFY2(sandbox.process.waitForFinished(60000), qPrintable(sandbox.process.errorString()));
        QCOMPARE(sandbox.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sandbox.process.exitCode(), 0);

        const QStringList logs = sandbox.logFiles();
        QCOMPARE(logs.size(), 1);
        const auto logContains = [&](const QString &line) {
            return sandbox.logText(logs.first())
                .contains(QStringLiteral(") ") + line + QStringLiteral("\r\n"));
        };
        if (route == InstallerRoute) {
            QTRY_COMPARE_WITH_TIMEOUT(fixture->installerArguments(),
                                      (QStringList{QStringLiteral("/VERYSILENT"),
                                                   QStringLiteral("/DIR=") + fixture->installPath}),
                                      30000);
            QCOMPARE(fixture->requestCount("GET", QStringLiteral("setup.dmg")), 6);
            QVERIFY(logContains(QStringLiteral("start installer success")));
            return;
        }

        // The setup program goes on after the updater has ended.
        QTRY_COMPARE_WITH_TIMEOUT(fixture->filesUnder(fixture->installPath), fixture->newFiles(),
                                  30000);
        const QString folder =
            route == ReplaceFallbackRoute ? QStringLiteral("replace") : QStringLiteral("partial");
        const QString setupProgram = route == SelfUpdateRoute || route == SelfUpdatedCopyRoute
                                         ? QStringLiteral("fixupdate")
                                         : QStringLiteral("backup");
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(fixture->updateDir + QLatin1Char('/') + folder),
                                 10000);
        QCOMPARE(fixture->filesUnder(fixture->installPath + QStringLiteral("/backup")),
                 fixture->oldFiles());
        if (route == SelfUpdatedCopyRoute)
            QVERIFY(
                !QFileInfo::exists(fixture->installPath + QStringLiteral("/backup/Trellim.exe")));
        QVERIFY(logContains(QStringLiteral("program \"%1/%2/Trellim.exe\"")
                                .arg(fixture->installPath, setupProgram)));
        QVERIFY(
            logContains(QStringLiteral("arguments (\"*%1*\", \"*%2/%3*\", \"%4\", "
                                       "\"update.json\", \"2.0\")")
                            .arg(fixture->installPath, fixture->updateDir, folder, logs.first())));
        QVERIFY(logContains(QStringLiteral("start Trellim success")));
        if (route == SelfUpdateRoute) {
            // The copy appended to the first run's log, header and all.
            QCOMPARE(
                sandbox.logText(logs.first()).count(QStringLiteral("******** VelmoraVersion: ")),
                2);
            QVERIFY(logContains(QStringLiteral("start update")));
        }
    }
};

QTEST_GUILESS_MAIN(TestUpdateControl)
#include "tst_updatecontrol.moc"
