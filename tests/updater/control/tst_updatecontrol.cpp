#include "controltestfixture.h"
#include "recordingtool.h"
#include "testhttpserver.h"
#include "updatecontrol.h"
#include "vendorconfig.h"
#include "windowrecorder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTextCodec>
#include <QThread>
#include <QTranslator>

namespace {
int logLinesStartingWith(const QString &start)
{
    const QStringList lines = ControlTestFixture::log();
    int count = 0;
    for (const QString &line : lines)
        count += line.startsWith(start) ? 1 : 0;
    return count;
}
} // namespace

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
    };
    Q_ENUM(Scenario)

private:
    std::unique_ptr<ControlTestFixture> fixture;
    std::unique_ptr<WindowRecorder> window;
    UpdateControl *controller = nullptr;

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
        QTest::addColumn<QString>("ending");       // see WindowRecorder::ending
        QTest::addColumn<int>("restarts");         // "ReStart Update" lines
        QTest::addColumn<QStringList>("logLines"); // starts of lines that must be logged
        QTest::addColumn<QStringList>("requests"); // "<method> <file> <count>"

        const QString updateError = QStringLiteral("box true ") + UpdateControl::updateErrorText();
        const QString notFound = QStringLiteral(
            "box false The download file  is not found,please check the download url");
        const QStringList patched{QStringLiteral("patch success!")};
        struct Row
        {
            const char *tag;
            Scenario scenario;
            QString ending;
            int restarts;
            QStringList logLines;
            QStringList requests;
        };
        const QList<Row> rows{
            {"self-update information missing restarts",
             SelfUpdateInfoMissing,
             updateError,
             5,
             {"Check whether get newest update packet", "Get FixUpdatePacket Info error"},
             {"HEAD update.json 6"}},
            {"installer information missing restarts",
             InstallerInfoMissing,
             updateError,
             5,
             {"Get Installer Info error"},
             {"HEAD update.json 6", "HEAD partial.pak 0"}},
            {"no partial packet takes the installer route",
             NoPartialForVersion,
             "exit",
             0,
             {"get PartialPacket Info error", "start installer success"},
             {"HEAD setup.dmg 1", "GET setup.dmg 6", "HEAD partial.pak 0"}},
            {"partial packet takes the patch route",
             PartialPresent,
             "trellim partial",
             0,
             {"start patch", "patch success!", "callTrellim \"<work>/partial\""},
             {"HEAD partial.pak 1", "GET partial.pak 6", "HEAD replace.pak 0", "HEAD setup.dmg 0"}},
            {"partial md5 mismatch restarts",
             PartialMd5Wrong,
             updateError,
             5,
             {"Download Partial Packet md5 is not match"},
             {"HEAD partial.pak 6"}},
            {"upper-case partial md5 never matches",
             PartialMd5UpperCase,
             updateError,
             5,
             {"Download Partial Packet md5 is not match"},
             {"HEAD partial.pak 6"}},
            {"upper-case replace md5 never matches",
             ReplaceMd5UpperCase,
             updateError,
             5,
             {"Download Replace Packet md5 is not match"},
             {"HEAD replace.pak 6"}},
            {"upper-case installer md5 shows the box at once",
             InstallerMd5UpperCase,
             updateError,
             0,
             {"Download installer md5 is not match"},
             {"HEAD setup.dmg 1"}},
            {"installer that does not start is tried five times",
             InstallerDoesNotStart,
             updateError,
             0,
             {"start installer failed"},
             {"HEAD setup.dmg 1"}},
            {"packet that cannot be unpacked is fetched once",
             PartialNotUnpackable,
             updateError,
             5,
             {"UncompressPartialPacketFailed "},
             {"HEAD partial.pak 1", "GET partial.pak 6"}},
            {"failing patch falls back to a downloaded replace packet",
             PatchFailsReplaceDownloaded,
             "trellim replace",
             0,
             {"patch failed: \"<install>/app.dll  md5 is not match",
              "****<file>*****<filepatch>*****<oldFileMd5>****<newFileMd5>************",
              "\"app.dll\" \"app.patch\" \"0123456789abcdef0123456789abcdef\"",
              "\"lib/core.dll\" \"lib/core.patch\"", QString(82, QLatin1Char('*')),
              "UncompressReplacePacketSuccess ", "callTrellim \"<work>/replace\""},
             {"HEAD partial.pak 1", "HEAD replace.pak 1"}},
            {"failing patch falls back to a replace packet in the work folder",
             PatchFailsReplaceUnpacked,
             "trellim replace",
             0,
             {"patch failed:"},
             {"HEAD partial.pak 1", "HEAD replace.pak 0"}},
            {"replace packet in the work folder is used at once",
             ReplaceInWorkFolder,
             "trellim replace",
             0,
             {"UncompressReplacePacketSuccess "},
             {"HEAD update.json 1", "HEAD partial.pak 0", "HEAD replace.pak 0"}},
            {"of two files with the same md5 the later by name is used",
             TwoFilesSameMd5,
             "trellim B_copy",
             0,
             {},
             {"HEAD replace.pak 0"}},
            {"https configuration url is refused",
             HttpsConfigUrl,
             "box false Download url is error,Please login and download again",
             0,
             {},
             {"HEAD update.json 0", "GET update.json 0"}},
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
             {"HEAD absent.json 1", "GET absent.json 0"}},
            {"packet missing on the server",
             PacketMissingOnServer,
             notFound,
             0,
             {},
             {"HEAD absent.pak 1", "GET absent.pak 0"}},
            {"packet name with a backslash is refused",
             PacketNameWithBackslash,
             "box false Download url is error,Please login and download again",
             0,
             {},
             {"HEAD partial.pak 0"}},
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
        case PacketNameWithBackslash:
            // Where a backslash separates folders it would lead out of the work folder.
            values.partialPacketUrl = fixture->url(QStringLiteral("..%5C..%5Cpartial.pak"));
            break;
        }
        QVERIFY(fixture->publishConfig(values));

        startController(configUrl, version);
        QTRY_VERIFY_WITH_TIMEOUT(!window->ending.isEmpty(), 60000);

        QCOMPARE(window->ending, ending);
        QTEST(int(ControlTestFixture::log().count(
                  QStringLiteral(">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> ReStart Update"))),
              "restarts");
        QFETCH(QStringList, logLines);
        for (const QString &line : logLines) {
            const QString expected =
                QString(line)
                    .replace(QStringLiteral("<work>"), fixture->updateDir)
                    .replace(QStringLiteral("<install>"), fixture->installPath);
            QVERIFY2(logLinesStartingWith(expected) > 0, qPrintable(expected));
        }
        QFETCH(QStringList, requests);
        for (const QString &request : requests) {
            const QStringList parts = request.split(QLatin1Char(' '));
            QVERIFY2(fixture->requestCount(parts.at(0).toLatin1(), parts.at(1)) ==
                         parts.at(2).toInt(),
                     qPrintable(request));
        }

        switch (scenario) {
        case NoPartialForVersion:
            QTRY_COMPARE_WITH_TIMEOUT(
                fixture->installerArguments(),
                (QStringList{QStringLiteral("2"), QStringLiteral("/VERYSILENT"),
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
                              "label Updating program", "trellim partial"}));
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

    // The program itself, as the main application starts it, against nginx
    // with a configuration that offers only the installer.
    void updateProgramRunsInstaller()
    {
        QVERIFY2(fixture->startServer(true), qPrintable(fixture->errorText()));
        ControlTestFixture::Config values = fixture->defaultConfig();
        values.withPartialPacket = false;
        values.fixUpdateUesedVersion.clear();
        QVERIFY(fixture->publishConfig(values));

        // Nothing may stop a real process by name.
        const QString binDir = fixture->root + QStringLiteral("/bin");
        const RecordingTool pkill(binDir, QStringLiteral("pkill"));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           fixture->root + QStringLiteral("/data"));
        environment.insert(QStringLiteral("PATH"),
                           binDir + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), fixture->root);
        // A failure must not reach out for the vendor's servers.
        environment.insert(QStringLiteral("VELMORA_UPLOAD_SERVER"),
                           QStringLiteral("http://127.0.0.1:9"));
        environment.insert(QStringLiteral("VELMORA_HOME_PAGE"),
                           QStringLiteral("http://127.0.0.1:9/"));
        QProcess update;
        update.setProcessEnvironment(environment);
        update.setProcessChannelMode(QProcess::ForwardedChannels);
        update.start(QStringLiteral(VELMORA_BINARY_DIR "/bin/update"),
                     {QStringLiteral("2.0"), fixture->url(QStringLiteral("update.json")),
                      fixture->installPath});
        QVERIFY2(update.waitForFinished(60000), qPrintable(update.errorString()));
        QCOMPARE(update.exitStatus(), QProcess::NormalExit);
        QCOMPARE(update.exitCode(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(fixture->installerArguments(),
                                  (QStringList{QStringLiteral("2"), QStringLiteral("/VERYSILENT"),
                                               QStringLiteral("/DIR=") + fixture->installPath}),
                                  30000);
        QCOMPARE(fixture->requestCount("GET", QStringLiteral("setup.dmg")), 6);

        const QStringList logs =
            QDir(fixture->updateDir)
                .entryList({QStringLiteral("update_mac_2.0_*.log")}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        QFile logFile(fixture->updateDir + QLatin1Char('/') + logs.first());
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QString log = QTextCodec::codecForName("gb18030")->toUnicode(logFile.readAll());
        const QString installer = fixture->updateDir + QStringLiteral("/setup.dmg");
        for (const QString &line :
             {QStringLiteral("installerMd5: \"%1\"").arg(QString::fromLatin1(values.installerMd5)),
              QStringLiteral("get PartialPacket Info error"),
              QStringLiteral("installer \"%1\"").arg(installer),
              QStringLiteral("arguments (\"/VERYSILENT\", \"/DIR=%1\")").arg(fixture->installPath),
              QStringLiteral("start installer success")}) {
            QVERIFY2(log.contains(QStringLiteral(") ") + line + QStringLiteral("\r\n")),
                     qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TestUpdateControl)
#include "tst_updatecontrol.moc"
