#include "platform/platform.h"
#include "releasecontract/wrappedpath.h"
#include "startup/startup.h"
#include "testhttpserver.h"
#include "updatesandbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

// An X server of the test's own, on a display number it picks itself, for the
// checks that need the program's real window.
class XServer
{
public:
    XServer()
    {
        server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                              QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        // The number comes once the server accepts clients.
        QByteArray number;
        while (!number.endsWith('\n') && server.waitForReadyRead(10000))
            number += server.readAllStandardOutput();
        if (number.endsWith('\n'))
            display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }
    ~XServer()
    {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished();
        }
    }

    // The title of the top-level window of `size`, as the window manager reads it.
    QString windowTitle(const QString &size) const
    {
        QProcess tree;
        tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-display"), display,
                                                QStringLiteral("-root"), QStringLiteral("-tree")});
        if (!tree.waitForFinished(10000))
            return QString();
        const QRegularExpression window(QStringLiteral("^\\s*0x[0-9a-f]+ \"(.*)\": .* %1\\+")
                                            .arg(QRegularExpression::escape(size)));
        for (const QString &line : QString::fromUtf8(tree.readAllStandardOutput()).split('\n')) {
            const QRegularExpressionMatch match = window.match(line);
            if (match.hasMatch())
                return match.captured(1);
        }
        return QString();
    }

    QString display;

private:
    QProcess server;
};

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void unwrapInstallPath_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("installPath");
        QTest::newRow("wrapped") << "*C:/Velmora*"
                                 << "C:/Velmora";
        QTest::newRow("plain") << "C:/Program Files/Velmora"
                               << "C:/Program Files/Velmora";
        QTest::newRow("one asterisk") << "*"
                                      << "";
        QTest::newRow("three pieces") << "a*b*c"
                                      << "b";
        QTest::newRow("leading only") << "*/opt/velmora"
                                      << "/opt/velmora";
        QTest::newRow("empty") << ""
                               << "";
    }
    void unwrapInstallPath()
    {
        QFETCH(QString, argument);
        QFETCH(QString, installPath);
        QCOMPARE(WrappedPath::unwrap(argument), installPath);
    }

    void configurationUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("configuration");
        QTest::newRow("exe") << "http://h/v/setup.exe"
                             << "http://h/v/setup.exe.json";
        QTest::newRow("dmg") << "http://h/v/setup.dmg"
                             << "http://h/v/setup.dmg.json";
        QTest::newRow("upper-case EXE") << "http://h/v/setup.EXE"
                                        << "http://h/v/setup.EXE";
        QTest::newRow("query after exe") << "http://h/setup.exe?a=1"
                                         << "http://h/setup.exe?a=1.json";
        QTest::newRow("json") << "http://h/update.json"
                              << "http://h/update.json";
        QTest::newRow("encoded name") << "http://h/set%20up.exe"
                                      << "http://h/set%20up.exe.json";
        QTest::newRow("exe folder") << "http://h/a.exe/config"
                                    << "http://h/a.exe/config";
    }
    void configurationUrl()
    {
        QFETCH(QString, url);
        QFETCH(QString, configuration);
        QCOMPARE(Startup::configurationUrl(url), configuration);
    }

    void buildLogFileName_data()
    {
        QTest::addColumn<bool>("userNameGiven"); // the 4-argument form
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("no user") << false << ""
                                 << "update_mac_6.1.0_2026.03.04-05.06.07.089.log";
        QTest::newRow("user") << true << "lin"
                              << "update_lin_mac_6.1.0_2026.03.04-05.06.07.089.log";
        QTest::newRow("empty user") << true << ""
                                    << "update__mac_6.1.0_2026.03.04-05.06.07.089.log";
    }
    void buildLogFileName()
    {
        QFETCH(bool, userNameGiven);
        QFETCH(QString, userName);
        QFETCH(QString, fileName);
        const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
        QCOMPARE(Startup::buildLogFileName(userNameGiven ? std::optional<QString>(userName)
                                                         : std::nullopt,
                                           QStringLiteral("mac"), QStringLiteral("6.1.0"), now),
                 fileName);
    }

    void readMainApplicationSettings_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QString>("translationFile");
        QTest::addColumn<bool>("catUpdateLog");
        QTest::newRow("no file") << QByteArray() << "" << false;
        QTest::newRow("zh") << QByteArray("lang=zh\n") << ":/en_ch.qm" << false;
        QTest::newRow("zh in General")
            << QByteArray("[General]\nlang=zh\n") << ":/en_ch.qm" << false;
        QTest::newRow("zh_CN is not zh") << QByteArray("lang=zh_CN\n") << "" << false;
        QTest::newRow("en") << QByteArray("lang=en\nCatUpdateLog=true\n") << "" << true;
        QTest::newRow("other section")
            << QByteArray("[Other]\nlang=zh\nCatUpdateLog=true\n") << "" << false;
        QTest::newRow("garbage") << QByteArray("\x01\x02=\n[[[") << "" << false;
    }
    void readMainApplicationSettings()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, translationFile);
        QFETCH(bool, catUpdateLog);
        UpdateSandbox sandbox;
        if (!content.isEmpty())
            sandbox.writeSettings(content);
        QString translation = QStringLiteral("unset");
        bool desktop = !catUpdateLog;
        Startup::readMainApplicationSettings(
            sandbox.path(QStringLiteral("data/Velmora/settings.ini")), &translation, &desktop);
        QCOMPARE(translation, translationFile);
        QCOMPARE(desktop, catUpdateLog);
    }

    void wrongArgumentCount_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("0") << QStringList();
        QTest::newRow("1") << QStringList{"1.0"};
        QTest::newRow("2") << QStringList{"1.0", "http://127.0.0.1:9/u.json"};
        QTest::newRow("6") << QStringList{"-skipfix", "1.0",   "http://127.0.0.1:9/u.json",
                                          "*/opt*",   "a.log", "x"};
    }
    void wrongArgumentCount()
    {
        QFETCH(QStringList, arguments);
        UpdateSandbox sandbox;
        sandbox.start(arguments);
        QVERIFY(sandbox.process.waitForFinished(30000));
        QCOMPARE(sandbox.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sandbox.process.exitCode(), 255);
        QVERIFY(!QFileInfo::exists(sandbox.path(QStringLiteral("data"))));
        QVERIFY(sandbox.logFiles(sandbox.path(QStringLiteral("home/Desktop"))).isEmpty());
        QCOMPARE(sandbox.pkill.calls(), QStringLiteral("-KILL -x Velmora\n"));
    }

    void logHeader_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("fileNamePattern");
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("version");
        QTest::newRow("3 arguments")
            << QStringList{"6.1.0", "http://127.0.0.1:9/v/setup.exe", "*/opt/velmora*"}
            << "^update_mac_6\\.1\\.0_\\d{4}\\.\\d\\d\\.\\d\\d-\\d\\d\\.\\d\\d\\.\\d\\d\\.\\d{3}\\."
               "log$"
            << ""
            << "6.1.0";
        QTest::newRow("4 arguments")
            << QStringList{"6.1.0", "http://127.0.0.1:9/v/setup.exe", "*/opt/velmora*",
                           QStringLiteral("王芳")}
            << QStringLiteral("^update_王芳_mac_6\\.1\\.0_[\\d.-]{23}\\.log$")
            << QStringLiteral("王芳") << "6.1.0";
        // The form decides, not whether the name is empty.
        QTest::newRow("4 arguments, empty user name")
            << QStringList{"6.1.0", "http://127.0.0.1:9/v/setup.exe", "*/opt/velmora*", ""}
            << "^update__mac_6\\.1\\.0_[\\d.-]{23}\\.log$"
            << ""
            << "6.1.0";
        QTest::newRow("5 arguments")
            << QStringList{"whatever", "6.2.0", "http://127.0.0.1:9/v/setup.exe", "*/opt/velmora*",
                           "given.log"}
            << "^given\\.log$"
            << ""
            << "6.2.0";
    }
    void logHeader()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, fileNamePattern);
        QFETCH(QString, userName);
        QFETCH(QString, version);
        UpdateSandbox sandbox;
        QDir().mkpath(sandbox.workDirectory());
        const QByteArray earlierRun("##update##Debug: (2026-01-01 00:00:00.000) earlier run\r\n");
        if (arguments.size() == 5) {
            QFile earlier(sandbox.workDirectory() + QStringLiteral("/given.log"));
            earlier.open(QIODevice::WriteOnly);
            earlier.write(earlierRun);
        }
        sandbox.start(arguments);
        QVERIFY(sandbox.process.waitForStarted());

        QTRY_COMPARE_WITH_TIMEOUT(sandbox.logFiles().size(), 1, 10000);
        const QString file = sandbox.logFiles().first();
        QVERIFY2(QRegularExpression(fileNamePattern).match(file).hasMatch(), qPrintable(file));
        const auto logLines = [&] {
            return sandbox.logText(file).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        };
        const int earlierLines = arguments.size() == 5 ? 1 : 0;
        QTRY_VERIFY_WITH_TIMEOUT(logLines().size() >= earlierLines + 8, 10000);
        QStringList lines = logLines();
        if (arguments.size() == 5)
            QCOMPARE(lines.takeFirst() + QStringLiteral("\r\n"), QString::fromLatin1(earlierRun));
        QVERIFY(lines.size() >= 8);

        const QString rule(76, QLatin1Char('*'));
        const QStringList header{
            rule,
            QStringLiteral("******** userName:  \"%1\"").arg(userName),
            QStringLiteral("******** VelmoraVersion:  \"%1\"").arg(version),
            QStringLiteral("******** systemInfo: \"%1\"").arg(QSysInfo::prettyProductName()),
            QStringLiteral("******** cpuInfo:  \"%1\"").arg(Platform::cpuInfo()),
            rule,
            QStringLiteral("installPath \"/opt/velmora\""),
            QStringLiteral("downloadurl \"http://127.0.0.1:9/v/setup.exe.json\"")};
        const QRegularExpression prefix(QStringLiteral(
            "^##update##Debug: \\(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\) "));
        for (int i = 0; i < header.size(); ++i) {
            QVERIFY2(prefix.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
            QCOMPARE(lines.at(i).mid(43), header.at(i));
        }
        QCOMPARE(sandbox.pkill.calls(), QStringLiteral("-KILL -x Velmora\n"));
    }

    // Start-up shows the window before it installs the translation; the title
    // follows the language all the same, on the real window of the program.
    void windowTitleFollowsTheLanguage()
    {
        TestHttpServer server;
        TestHttpServer::Route silent;
        silent.stall = true;
        server.setRoute(QStringLiteral("/update.json"), silent);
        XServer x;
        QVERIFY(!x.display.isEmpty());
        UpdateSandbox sandbox;
        sandbox.display = x.display;
        sandbox.writeSettings("lang=zh\n");
        sandbox.start(
            {"6.1.0", server.url(QStringLiteral("/update.json")).toString(), "/opt/velmora"});
        QVERIFY(sandbox.process.waitForStarted());
        const QString updateWindow = QStringLiteral("550x200");
        const QString chineseTitle = QStringLiteral("Velmora更新");
        QTRY_COMPARE_WITH_TIMEOUT(x.windowTitle(updateWindow), chineseTitle, 15000);
    }

    // The log moved to the desktop is also the one a failing update uploads: a
    // configuration without content restarts the update until the limit, whose
    // error box asks for the upload.
    void catUpdateLogMovesLogToDesktop()
    {
        TestHttpServer server;
        server.serve(QStringLiteral("/update.json"), "{}");
        server.respond(QStringLiteral("/api/file.api.php"), 200, "ok");
        UpdateSandbox sandbox;
        sandbox.writeSettings("[General]\nCatUpdateLog=true\n");
        sandbox.uploadServer = server.url(QString()).toString();
        sandbox.start(
            {"6.1.0", server.url(QStringLiteral("/update.json")).toString(), "/opt/velmora"});
        QVERIFY(sandbox.process.waitForStarted());

        QTRY_COMPARE_WITH_TIMEOUT(server.requests(QStringLiteral("/api/file.api.php")).size(), 1,
                                  15000);
        const QList<TestHttpServer::Request> uploads =
            server.requests(QStringLiteral("/api/file.api.php"));

        const QString desktop = sandbox.path(QStringLiteral("home/Desktop"));
        const QStringList files = sandbox.logFiles(desktop);
        QCOMPARE(files.size(), 1);
        QFile log(desktop + QLatin1Char('/') + files.first());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray uploaded = log.readAll().split('\n').mid(0, 8).join('\n');
        QVERIFY(uploaded.contains("******** VelmoraVersion:  \"6.1.0\""));
        QVERIFY(uploads.first().body.contains(uploaded));
        QVERIFY(QFileInfo(sandbox.workDirectory()).isDir());
        QVERIFY(sandbox.logFiles(sandbox.workDirectory()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
