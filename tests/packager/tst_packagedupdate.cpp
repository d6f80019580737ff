#include "nginxserver.h"
#include "packagertrees.h"
#include "updatesandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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

    // A small stand-in run-time for the self-update packet keeps it quick.
    static bool writeRuntime(const QString &folder)
    {
        return write(folder, {{"update.exe", "#!/bin/sh\n"}, {"Trellim.exe", "x"}}) &&
               QFile::setPermissions(folder + "/update.exe", QFile::ReadOwner | QFile::ExeOwner);
    }

private slots:
    void updateEveryOldVersion_data()
    {
        QTest::addColumn<QString>("selfUpdateFor");
        QTest::newRow("patch route for both") << QString();
        QTest::newRow("1.0 updates the updater first") << QStringLiteral("1.0");
    }

    void updateEveryOldVersion()
    {
        QFETCH(QString, selfUpdateFor);
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
        QStringList arguments{"--new",         dir.filePath("2.0"),
                              "--new-version", "2.0",
                              "--base-url",    nginx.url("/release/").toString(),
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
        QVERIFY2(run.output.contains("1.0: 2 changed file(s), 1 as patches and 1 whole") &&
                     run.output.contains("1.9: 1 changed file(s), 0 as patches and 1 whole") &&
                     !QFileInfo::exists(www + "/release/partial-1.9-2.0.pak"),
                 qPrintable(run.output));

        for (auto it = old.constBegin(); it != old.constEnd(); ++it) {
            const QString installation = dir.filePath("installed " + it.key());
            QVERIFY(write(installation, it.value()));
            QVERIFY(QFile::setPermissions(installation + "/Trellim.exe",
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            UpdateSandbox sandbox(dir.filePath("sandbox " + it.key()));
            sandbox.start({it.key(), nginx.url("/release/setup.exe.json").toString(),
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
    }

    // A release that a trusted key signed updates an installation; the same
    // release with a packet replaced and its sum edited in the configuration
    // is refused by every attempt and leaves the installation as it was.
    void signedRelease()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const Tree oldTree{{"Trellim.exe", setupProgram()},
                           {"bin/core.dll", programBytes(60000, 31)},
                           {"readme.txt", "1.0"}};
        Tree newTree = oldTree;
        newTree["bin/core.dll"] = nextVersion(oldTree["bin/core.dll"], 32);
        newTree["readme.txt"] = "2.0";
        QVERIFY(write(dir.filePath("1.0"), oldTree));
        QVERIFY(write(dir.filePath("2.0"), newTree));
        // The key the test build of the update program trusts, from its seed.
        QVERIFY(write(
            dir.filePath("keys"),
            {{"signing.key",
              "# test key\n" + QByteArray("velmora test signing key seed 01").toHex() + '\n'}}));
        QVERIFY(write(dir.path(), {{"setup.exe", "#!/bin/sh\n"}}));
        QVERIFY(writeRuntime(dir.filePath("runtime")));

        const QString www = dir.filePath("www");
        QVERIFY(QDir().mkpath(www));
        NginxServer nginx(www);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const Run run = runPackager(
            {"--new", dir.filePath("2.0"), "--new-version", "2.0", "--base-url",
             nginx.url("/release/").toString(), "--out", www + "/release", "--installer",
             dir.filePath("setup.exe"), "--old", "1.0=" + dir.filePath("1.0"), "--updater",
             dir.filePath("runtime"), "--sign-key", dir.filePath("keys/signing.key")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));

        const auto startUpdate = [&](UpdateSandbox &sandbox, const QString &installation) {
            sandbox.program = QStringLiteral(VELMORA_BINARY_DIR "/tests/update_testkey");
            sandbox.start(
                {"1.0", nginx.url("/release/setup.exe.json").toString(), '*' + installation + '*'});
        };
        const QString signedInstallation = dir.filePath("signed");
        QVERIFY(write(signedInstallation, oldTree));
        UpdateSandbox signedRun(dir.filePath("sandbox signed"));
        startUpdate(signedRun, signedInstallation);
        QVERIFY(signedRun.process.waitForFinished(60000));
        QCOMPARE(signedRun.process.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(read(signedInstallation, {"backup"}), newTree, 60000);
        QVERIFY(signedRun.logText(signedRun.logFiles().value(0))
                    .contains("update config signature verified\r\n"));

        // Someone who answers in the server's place brings a packet of his
        // own and names its sum, but cannot sign.
        const QString release = www + "/release/";
        const Tree published = read(release);
        const QByteArray replace = published.value("replace-1.0-2.0.pak");
        QByteArray configuration = published.value("setup.exe.json");
        configuration.replace(md5(published.value("partial-1.0-2.0.pak")).toLatin1(),
                              md5(replace).toLatin1());
        QVERIFY(
            write(release, {{"partial-1.0-2.0.pak", replace}, {"setup.exe.json", configuration}}));
        const QString tamperedInstallation = dir.filePath("tampered");
        QVERIFY(write(tamperedInstallation, oldTree));
        UpdateSandbox tamperedRun(dir.filePath("sandbox tampered"));
        startUpdate(tamperedRun, tamperedInstallation);
        // The first attempt and five restarts are refused; the error box
        // that follows waits for a user, and the sandbox ends the program.
        const auto refusals = [&] {
            return tamperedRun.logText(tamperedRun.logFiles().value(0))
                .count("update config signature refused");
        };
        QTRY_COMPARE_WITH_TIMEOUT(refusals(), 6, 60000);
        QTest::qWait(500);
        QCOMPARE(refusals(), 6);
        QVERIFY(!tamperedRun.logText(tamperedRun.logFiles().value(0)).contains("start patch"));
        QCOMPARE(read(tamperedInstallation), oldTree);
    }
};

QTEST_GUILESS_MAIN(TestPackagedUpdate)
#include "tst_packagedupdate.moc"
