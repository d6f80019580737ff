#include "nginxserver.h"
#include "packagertrees.h"
#include "releasecontract/configsignature.h"
#include "updatesandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace PackagerTrees;

// What update-packager publishes, served by nginx, brings every old
// installation to the new version through the real update program and the
// real setup program.
class TestPackagedUpdate : public QObject
{
    Q_OBJECT

    static QByteArray setupProgram()
    {
        QFile program(UpdateSandbox::builtProgram(QStringLiteral("Trellim.exe")));
        return program.open(QIODevice::ReadOnly) ? program.readAll() : QByteArray();
    }

    // A small stand-in run-time for the self-update packet keeps it quick;
    // its update.exe carries `keysRecord`, the keys it would trust.
    static bool writeRuntime(const QString &folder, const QByteArray &keysRecord = QByteArray())
    {
        return write(folder,
                     {{"update.exe", "#!/bin/sh\n# " + keysRecord + '\n'}, {"Trellim.exe", "x"}}) &&
               QFile::setPermissions(folder + "/update.exe", QFile::ReadOwner | QFile::ExeOwner);
    }

private slots:
    void updateEveryOldVersion_data()
    {
        QTest::addColumn<QString>("selfUpdateFor");
        QTest::addColumn<bool>("throughProxy");
        QTest::newRow("patch route for both") << QString() << false;
        QTest::newRow("1.0 updates the updater first") << QStringLiteral("1.0") << false;
        // As in a school that reaches the server only through its proxy.
        QTest::newRow("patch route through a forward proxy") << QString() << true;
    }

    void updateEveryOldVersion()
    {
        QFETCH(QString, selfUpdateFor);
        QFETCH(bool, throughProxy);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        // 1.0 and 1.1 differ from 2.0 and from each other; the setup
        // program is part of every installation, as on Windows.
        const QByteArray core = programBytes(80000, 21);
        const Tree tree10{{"Trellim.exe", setupProgram()},
                          {"bin/core.dll", core},
                          {"data/说明 文件.txt", "1.0"},
                          {"same.txt", "unchanged"}};
        Tree tree11 = tree10;
        tree11["bin/core.dll"] = nextVersion(core, 22);
        tree11["data/说明 文件.txt"] = "1.1";
        tree11["bin/added in 1.1.dll"] = programBytes(3000, 23);
        Tree newTree = tree11;
        newTree["bin/core.dll"] = nextVersion(tree11["bin/core.dll"], 24);
        newTree["data/说明 文件.txt"] = "2.0, with more to say";
        newTree["bin/new in 2.0.so"] = programBytes(9000, 25);
        // 1.9 differs only in a text, which is cheaper whole: no patch, and
        // the replace packet serves as its partial packet.
        Tree tree19 = newTree;
        tree19["data/说明 文件.txt"] = "1.9";
        const QMap<QString, Tree> old{{"1.0", tree10}, {"1.1", tree11}, {"1.9", tree19}};
        QVERIFY(write(dir.filePath("2.0"), newTree));
        for (auto it = old.constBegin(); it != old.constEnd(); ++it)
            QVERIFY(write(dir.filePath(it.key()), it.value()));
        QVERIFY(write(dir.path(), {{"setup.exe", "#!/bin/sh\n"}}));

        const QString www = dir.filePath("www");
        QVERIFY(QDir().mkpath(www));
        NginxServer nginx(www);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        // Qt never sends a request for a loopback address through a proxy: the
        // server gets a name that only the proxy knows, as in a school network
        // that resolves outside names only at its proxy.
        QUrl server = nginx.url("/release/");
        NginxServer proxy(www);
        const QString proxyLog = dir.filePath("proxy.log");
        if (throughProxy) {
            proxy.setExtraServerConfig("access_log \"" + QFile::encodeName(proxyLog) +
                                       "\"; location / { proxy_pass http://127.0.0.1:" +
                                       QByteArray::number(nginx.port()) + "; }");
            QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));
            server.setHost("update.velmora.test");
        }
        QStringList arguments{"--new",         dir.filePath("2.0"),
                              "--new-version", "2.0",
                              "--base-url",    server.toString(),
                              "--out",         www + "/release",
                              "--installer",   dir.filePath("setup.exe"),
                              "--old",         "1.0=" + dir.filePath("1.0"),
                              "--old",         "1.1=" + dir.filePath("1.1"),
                              "--old",         "1.9=" + dir.filePath("1.9")};
        // Without self-update a small stand-in run-time keeps the packet quick;
        // with it, this build's update and Trellim.exe go in, as by default.
        if (selfUpdateFor.isEmpty()) {
            QVERIFY(writeRuntime(dir.filePath("runtime")));
            arguments << "--updater" << dir.filePath("runtime");
        } else {
            arguments << "--self-update-for" << selfUpdateFor;
        }
        const Run run = runPackager(arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        // The program goes as a patch, the text whole.
        QVERIFY2(run.output.contains("from 1.0: 2 changed file(s), 1 as patches and 1 whole") &&
                     run.output.contains("from 1.9: 1 changed file(s), 0 as patches and 1 whole") &&
                     !QFileInfo::exists(www + "/release/partial-1.9-2.0.pak"),
                 qPrintable(run.output));

        for (auto it = old.constBegin(); it != old.constEnd(); ++it) {
            const QString installation = dir.filePath("installed " + it.key());
            QVERIFY(write(installation, it.value()));
            QVERIFY(QFile::setPermissions(installation + "/Trellim.exe",
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            UpdateSandbox sandbox(dir.filePath("sandbox " + it.key()));
            if (throughProxy)
                sandbox.proxy = proxy.url(QString()).toString();
            sandbox.start({it.key(), server.resolved(QUrl("setup.exe.json")).toString(),
                           '*' + installation + '*'});
            QVERIFY2(sandbox.process.waitForFinished(60000),
                     qPrintable(sandbox.process.errorString()));
            QCOMPARE(sandbox.process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(sandbox.process.exitCode(), 0);
            // The setup program, and a self-updated copy, go on after the
            // first update program has ended.
            QTRY_COMPARE_WITH_TIMEOUT(read(installation, {"backup", "fixupdate"}), newTree, 60000);
            // The previous version of every changed file, patched or sent
            // whole, is kept in the backup folder.
            const Tree backup = read(installation + "/backup");
            for (const QString path : {"bin/core.dll", "data/说明 文件.txt"}) {
                if (it.value().value(path) != newTree.value(path))
                    QCOMPARE(backup.value(path), it.value().value(path));
            }
            const QString log = sandbox.logText(sandbox.logFiles().value(0));
            QCOMPARE(log.contains("start update\r\n"), it.key() == selfUpdateFor);
            QVERIFY(log.contains("patch success!"));
        }
        if (throughProxy) {
            // For each installation its configuration and its packet, in six ranges each.
            QFile passedOn(proxyLog);
            QVERIFY(passedOn.open(QIODevice::ReadOnly));
            const QByteArray requests = passedOn.readAll();
            QCOMPARE(requests.count("\"HEAD http://"), 2 * old.size());
            QCOMPARE(requests.count("\" 206 "), 12 * old.size());
        }
    }

private:
    // One signed release of 2.0 for 1.0, made once for the rows of
    // signedRelease and served by nginx; its installer records every start.
    void makeSignedRelease()
    {
        signedDir = std::make_unique<QTemporaryDir>();
        QVERIFY(signedDir->isValid());
        const QDir dir(signedDir->path());
        signedOld = {{"Trellim.exe", setupProgram()},
                     {"bin/core.dll", programBytes(60000, 31)},
                     {"readme.txt", "1.0"}};
        signedNew = signedOld;
        signedNew["bin/core.dll"] = nextVersion(signedOld["bin/core.dll"], 32);
        signedNew["readme.txt"] = "2.0";
        QVERIFY(write(dir.filePath("1.0"), signedOld));
        QVERIFY(write(dir.filePath("2.0"), signedNew));
        // The key the test build of the update program trusts, from its seed.
        QVERIFY(write(
            dir.filePath("keys"),
            {{"signing.key",
              "# test key\n" + QByteArray("velmora test signing key seed 01").toHex() + '\n'}}));
        QVERIFY(write(
            dir.path(),
            {{"setup.exe", "#!/bin/sh\ntouch '" + QFile::encodeName(installerRecord()) + "'\n"}}));
        QVERIFY(writeRuntime(dir.filePath("runtime"),
                             VELMORA_TRUSTED_KEYS_RECORD(VELMORA_TEST_CONFIG_PUBLIC_KEY)));
        QVERIFY(QDir().mkpath(dir.filePath("www")));
        signedServer = std::make_unique<NginxServer>(dir.filePath("www"));
        QVERIFY2(signedServer->start(), qPrintable(signedServer->errorString()));
        const Run run = runPackager(
            {"--new", dir.filePath("2.0"), "--new-version", "2.0", "--base-url",
             signedServer->url("/release/").toString(), "--out", dir.filePath("www/release"),
             "--installer", dir.filePath("setup.exe"), "--old", "1.0=" + dir.filePath("1.0"),
             "--updater", dir.filePath("runtime"), "--sign-key", dir.filePath("keys/signing.key")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    }

    QString installerRecord() const { return signedDir->filePath("installer started"); }

    std::unique_ptr<QTemporaryDir> signedDir;
    std::unique_ptr<NginxServer> signedServer;
    Tree signedOld;
    Tree signedNew;

private slots:
    void signedRelease_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("version");
        // A change to the configuration, served with the release's signature.
        QTest::addColumn<QByteArray>("changed");
        QTest::addColumn<QString>("refusal"); // empty: the release installs
        const QString keyed = VELMORA_BINARY_DIR "/tests/update_testkey";
        QTest::newRow("a signed release installs") << keyed << "1.0" << QByteArray() << QString();
        QTest::newRow("a configuration changed after signing is refused")
            << keyed << "1.0" << QByteArray("replace-1.0-2.0.pak")
            << "the configuration's SHA-256 is ";
        // No packets for 3.0: the installer of 2.0 would run.
        QTest::newRow("an older release on a newer installation is refused")
            << keyed << "3.0" << QByteArray() << "it brings 2.0, older than the installed 3.0";
        QTest::newRow("an updater without keys installs it")
            << UpdateSandbox::builtProgram("update") << "1.0" << QByteArray() << QString();
    }

    // The packager's signed release through the real update program: what
    // it admits installs, what it refuses is refused by every attempt,
    // leaving the installation as it was and starting nothing.
    void signedRelease()
    {
        QFETCH(QString, program);
        QFETCH(QString, version);
        QFETCH(QByteArray, changed);
        QFETCH(QString, refusal);
        if (!signedServer)
            makeSignedRelease();
        QVERIFY(signedServer && signedServer->isRunning());
        const QString release = signedDir->filePath("www/release/");
        const Tree published = read(release);
        QString configuration = "setup.exe.json";
        if (!changed.isEmpty()) {
            // The partial packet's URL names another packet.
            configuration = "changed.json";
            QVERIFY(
                write(release, {{configuration, QByteArray(published.value("setup.exe.json"))
                                                    .replace("partial-1.0-2.0.pak", changed)},
                                {configuration + ".sig", published.value("setup.exe.json.sig")}}));
        }
        const QString installation = signedDir->filePath(QTest::currentDataTag());
        QVERIFY(write(installation, signedOld));
        UpdateSandbox sandbox(installation + " sandbox");
        sandbox.program = program;
        sandbox.start({version, signedServer->url("/release/" + configuration).toString(),
                       '*' + installation + '*'});
        const auto log = [&] { return sandbox.logText(sandbox.logFiles().value(0)); };
        if (refusal.isEmpty()) {
            QVERIFY(sandbox.process.waitForFinished(60000));
            QCOMPARE(sandbox.process.exitCode(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(read(installation, {"backup"}), signedNew, 60000);
            QCOMPARE(log().contains("update config signature verified\r\n"),
                     program.endsWith("update_testkey"));
            return;
        }
        // The first attempt and five restarts are refused; the error box
        // that follows waits for a user, and the sandbox ends the program.
        QTRY_COMPARE_WITH_TIMEOUT(log().count("update config signature refused: \"" + refusal), 6,
                                  60000);
        QTest::qWait(500);
        QCOMPARE(log().count("update config signature refused"), 6);
        QVERIFY(!log().contains("start patch") && !log().contains("start installer"));
        QCOMPARE(read(installation), signedOld);
        QVERIFY(!QFileInfo::exists(installerRecord()));
    }

    // An installation left by an update cut short, or with a link planted by
    // another account where the programs write, ends up whole and new through
    // the real programs; what the link points to stays untouched, and the
    // application is started once.
    void interruptedOrPlantedInstallation_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("logged");
        QTest::newRow("3 of 4 files new, empty work folder") << "journal"
                                                             << "rolled back";
        QTest::newRow("backup folder a link") << "backup"
                                              << "a link is removed";
        QTest::newRow("journal folder a link") << "Trellim.journal"
                                               << "a link is removed";
        QTest::newRow("link named like the packet's folder") << "work/partial-1.0-2.0"
                                                             << "a link is removed";
        QTest::newRow("link named like the configuration") << "work/setup.exe.json"
                                                           << "a link is removed";
    }

    void interruptedOrPlantedInstallation()
    {
        QFETCH(QString, planted);
        QFETCH(QString, logged);
        Tree oldTree{{"Trellim.exe", setupProgram()},
                     {"Velmora", "#!/bin/sh\necho started >> \"$HOME/velmora-starts\"\n"},
                     {"same.txt", "unchanged"}};
        Tree newTree = oldTree;
        const QStringList changed{"bin/a.dll", "bin/b.dll", "bin/c.dll", "bin/d.dll"};
        for (int i = 0; i < changed.size(); ++i) {
            oldTree[changed[i]] = programBytes(20000, 40 + i);
            newTree[changed[i]] = nextVersion(oldTree[changed[i]], 50 + i);
        }
        newTree["new/e.dll"] = programBytes(3000, 60);
        if (!m_release.isValid() || !QFileInfo::exists(m_release.filePath("www"))) {
            QVERIFY(write(m_release.filePath("1.0"), oldTree) &&
                    write(m_release.filePath("2.0"), newTree) &&
                    write(m_release.path(), {{"setup.exe", "#!/bin/sh\n"}}) &&
                    writeRuntime(m_release.filePath("runtime")));
            m_nginx = std::make_unique<NginxServer>(m_release.filePath("www"));
            QVERIFY(QDir().mkpath(m_release.filePath("www")) && m_nginx->start());
            const Run run = runPackager(
                {"--new", m_release.filePath("2.0"), "--new-version", "2.0", "--base-url",
                 m_nginx->url("/").toString(), "--out", m_release.filePath("www"), "--installer",
                 m_release.filePath("setup.exe"), "--old", "1.0=" + m_release.filePath("1.0"),
                 "--updater", m_release.filePath("runtime")});
            QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        }
        QTemporaryDir dir;
        const QString installation = dir.filePath("installed");
        QVERIFY(write(installation, oldTree));
        for (const char *program : {"/Trellim.exe", "/Velmora"})
            QVERIFY(QFile::setPermissions(installation + program,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        UpdateSandbox sandbox(dir.filePath("sandbox"));
        const QString documents = dir.filePath("documents");
        QVERIFY(write(documents, {{"letter.txt", "dear"}, {"journal.json", "{}"}}));
        if (planted == "journal") {
            // Cut short after three files were put in place.
            Tree interrupted{{"Trellim.journal/journal.json",
                              R"({"format": 1, "replaced": ["bin/a.dll", "bin/b.dll", "bin/c.dll"],
                                  "added": [], "createdFolders": []})"}};
            for (const QString &file : changed.mid(0, 3)) {
                interrupted["Trellim.journal/saved/" + file] = oldTree[file];
                interrupted[file] = newTree[file];
            }
            QVERIFY(write(installation, interrupted));
        } else {
            const QString link = planted.startsWith("work/")
                                     ? sandbox.workDirectory() + planted.mid(4)
                                     : installation + '/' + planted;
            QVERIFY(QDir().mkpath(QFileInfo(link).path()) && QFile::link(documents, link));
        }

        sandbox.start(
            {"1.0", m_nginx->url("/setup.exe.json").toString(), '*' + installation + '*'});
        QVERIFY(sandbox.process.waitForFinished(60000));
        QCOMPARE(sandbox.process.exitCode(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(read(installation, {"backup"}), newTree, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(read(sandbox.path("home"), {"Desktop"}),
                                  (Tree{{"velmora-starts", "started\n"}}), 10000);
        QVERIFY(!QFileInfo::exists(installation + "/Trellim.journal"));
        QCOMPARE(read(documents), (Tree{{"letter.txt", "dear"}, {"journal.json", "{}"}}));
        QVERIFY(sandbox.logText(sandbox.logFiles().value(0)).contains(logged));
    }

private:
    QTemporaryDir m_release;
    std::unique_ptr<NginxServer> m_nginx;
};

QTEST_GUILESS_MAIN(TestPackagedUpdate)
#include "tst_packagedupdate.moc"
