#include "control/updatecontrol.h"
#include "foldertree.h"
#include "logcapture.h"
#include "recordingtool.h"
#include "windowrecorder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
using Files = FolderTree::Tree;

int linesStartingWith(const QString &start)
{
    int count = 0;
    for (const QString &line : LogCapture::lines())
        count += line.startsWith(start) ? 1 : 0;
    return count;
}

struct CopyCase
{
    Files source;
    Files targetBefore;
    bool compareFirst = true;
    // Targets made read-only, and targets given an old time stamp whose
    // survival shows that they were left alone.
    QStringList readOnlyTargets;
    QStringList agedTargets;
    bool result = true;
    Files targetAfter;
    // Starts of log lines, each logged once; <target> stands for the target.
    QStringList logLines;
};

struct HandOffCase
{
    bool skipFix = false;
    Files installation;
    // Where the installation holds a setup program that records its starts.
    QString setupProgram;
    bool backupBlockedByFile = false;
    int earlierFailures = 0;
    // "exit" or "box".
    QString ending;
    // Backup files, or setup program starts from the backup folder ("backup")
    // or from the self-update folder ("fixupdate").
    Files backupAfter;
    QString startedFrom;
    int failedStarts = 0;
    QString copyError;
};
} // namespace

Q_DECLARE_METATYPE(CopyCase)
Q_DECLARE_METATYPE(HandOffCase)

class TestDeployment : public QObject
{
    Q_OBJECT

private slots:
    void copyDirectory_data()
    {
        QTest::addColumn<CopyCase>("copyCase");
        const Files nested{{"a.txt", "a"}, {"sub/b.txt", "b"}, {"sub/deeper/c.txt", "c"}};

        QTest::newRow("nested folders into a missing target")
            << CopyCase{nested, {}, true, {}, {}, true, nested, {}};

        QTest::newRow("equal file left alone, differing one replaced")
            << CopyCase{{{"same.txt", "same"}, {"new.txt", "new"}},
                        {{"same.txt", "same"}, {"new.txt", "stale"}},
                        true,
                        {},
                        {"same.txt"},
                        true,
                        {{"same.txt", "same"}, {"new.txt", "new"}},
                        {}};

        QTest::newRow("read-only stale copy replaced") << CopyCase{{{"app.dll", "new"}},
                                                                   {{"app.dll", "stale"}},
                                                                   true,
                                                                   {"app.dll"},
                                                                   {},
                                                                   true,
                                                                   {{"app.dll", "new"}},
                                                                   {}};

        QTest::newRow("without comparing, the target is moved aside")
            << CopyCase{{{"app.dll", "new"}},
                        {{"app.dll", "new"}},
                        false,
                        {},
                        {},
                        true,
                        {{"app.dll", "new"}, {"app.dll.bak", "new"}},
                        {}};

        QTest::newRow("a leftover .bak makes the copy fail") << CopyCase{
            {{"app.dll", "new"}, {"z.dll", "never reached"}},
            {{"app.dll", "old"}, {"app.dll.bak", "older"}},
            false,
            {},
            {},
            false,
            {{"app.dll", "old"}, {"app.dll.bak", "older"}},
            {"rename failed:  \"<target>/app.dll\"", "copy failed:  \"<target>/app.dll\""}};

        QTest::newRow("backup and self-update folders, RUVir.txt and hidden files skipped")
            << CopyCase{{{"backup/a", "x"},
                         {"backup.old/b", "x"},
                         {"fixupdate/c", "x"},
                         {"RUVir.txt", "x"},
                         {"plugins/RUVir.txt", "x"},
                         {"plugins/q.dll", "q"},
                         {".hidden", "x"},
                         {"backupper/d", "d"}},
                        {},
                        true,
                        {},
                        {},
                        true,
                        {{"plugins/q.dll", "q"}, {"backupper/d", "d"}},
                        {}};
    }

    void copyDirectory()
    {
        QFETCH(CopyCase, copyCase);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source"));
        const QString target = dir.filePath(QStringLiteral("target/deep"));
        QVERIFY(FolderTree::write(source, copyCase.source));
        QVERIFY(FolderTree::write(target, copyCase.targetBefore));
        const QDateTime aged = QDateTime::currentDateTime().addDays(-3);
        for (const QString &name : qAsConst(copyCase.agedTargets)) {
            QFile file(target + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(aged, QFileDevice::FileModificationTime));
        }
        for (const QString &name : qAsConst(copyCase.readOnlyTargets))
            QVERIFY(QFile::setPermissions(target + QLatin1Char('/') + name,
                                          QFileDevice::ReadOwner | QFileDevice::ReadOther));

        LogCapture log;
        QCOMPARE(UpdateControl::copyDirectory(source, target, copyCase.compareFirst),
                 copyCase.result);

        QCOMPARE(FolderTree::read(target, FolderTree::Folders::Empty), copyCase.targetAfter);
        for (const QString &name : qAsConst(copyCase.agedTargets))
            QCOMPARE(QFileInfo(target + QLatin1Char('/') + name).lastModified().toSecsSinceEpoch(),
                     aged.toSecsSinceEpoch());
        for (const QString &line : qAsConst(copyCase.logLines))
            QCOMPARE(linesStartingWith(QString(line).replace(QStringLiteral("<target>"), target)),
                     1);
    }

    void removeFilesWithSuffix()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("packet"));
        QVERIFY(FolderTree::write(folder, {{"x.patch", "1"},
                                           {"x.PATCH", "2"},
                                           {"sub/deeper/y.patch", "3"},
                                           {".hidden.patch", "4"},
                                           {"patch", "5"},
                                           {"z.patch.txt", "6"},
                                           {"target.bin", "7"}}));
        QVERIFY(QFile::link(folder + QStringLiteral("/target.bin"),
                            folder + QStringLiteral("/link.patch")));

        UpdateControl::removeFilesWithSuffix(folder, QStringLiteral("patch"));
        UpdateControl::removeFilesWithSuffix(dir.filePath(QStringLiteral("missing")),
                                             QStringLiteral("patch"));

        QCOMPARE(FolderTree::read(folder, FolderTree::Folders::Empty),
                 (Files{{"x.PATCH", "2"},
                        {"sub/deeper/", ""},
                        {".hidden.patch", "4"},
                        {"patch", "5"},
                        {"z.patch.txt", "6"},
                        {"target.bin", "7"},
                        {"link.patch", "7"}}));
    }

    void callTrellim_data()
    {
        QTest::addColumn<HandOffCase>("handOff");
        const Files installation{{"Qt5Core.dll", "core"},
                                 {"msvcr120.dll", "runtime"},
                                 {"libstdc++-6.dll", "MinGW runtime"},
                                 {"platforms/qwindows.dll", "platform"},
                                 {"imageformats/qjpeg.dll", "jpeg"},
                                 {"imageformats/RUVir.txt", "x"},
                                 {"app.dll", "old app"},
                                 {"a/b/c.dll", "old c"},
                                 {"unchanged.dll", "same"}};

        HandOffCase firstRun;
        firstRun.installation = installation;
        firstRun.setupProgram = QStringLiteral("Trellim.exe");
        firstRun.ending = QStringLiteral("exit");
        firstRun.backupAfter = {{"Qt5Core.dll", "core"},
                                {"msvcr120.dll", "runtime"},
                                {"libstdc++-6.dll", "MinGW runtime"},
                                {"Trellim.exe", "<setup program>"},
                                {"platforms/qwindows.dll", "platform"},
                                {"imageformats/qjpeg.dll", "jpeg"},
                                {"iconengines/", ""},
                                {"app.dll", "old app"},
                                {"a/b/c.dll", "old c"}};
        firstRun.startedFrom = QStringLiteral("backup");
        QTest::newRow("first run: run-time and changed files backed up") << firstRun;

        HandOffCase selfUpdated = firstRun;
        selfUpdated.skipFix = true;
        selfUpdated.setupProgram = QStringLiteral("fixupdate/Trellim.exe");
        selfUpdated.backupAfter = {{"app.dll", "old app"}, {"a/b/c.dll", "old c"}};
        selfUpdated.startedFrom = QStringLiteral("fixupdate");
        QTest::newRow("self-updated copy: only the changed files") << selfUpdated;

        HandOffCase noSetupProgram = firstRun;
        noSetupProgram.setupProgram.clear();
        noSetupProgram.ending = QStringLiteral("box");
        noSetupProgram.backupAfter.remove(QStringLiteral("Trellim.exe"));
        noSetupProgram.startedFrom.clear();
        noSetupProgram.failedStarts = 5;
        QTest::newRow("no setup program: five failed starts, then the box") << noSetupProgram;

        HandOffCase afterInstallerFailures = noSetupProgram;
        afterInstallerFailures.earlierFailures = 3;
        afterInstallerFailures.failedStarts = 2;
        QTest::newRow("failures shared with earlier hand-offs") << afterInstallerFailures;

        HandOffCase blocked = firstRun;
        blocked.backupBlockedByFile = true;
        blocked.ending = QStringLiteral("box");
        blocked.backupAfter.clear();
        blocked.startedFrom.clear();
        blocked.copyError = QStringLiteral("Copy deploy file error: \"Qt5Core.dll\"");
        QTest::newRow("run-time copy fails five times") << blocked;

        HandOffCase blockedDirs = blocked;
        blockedDirs.installation = {{"app.dll", "old app"}};
        blockedDirs.setupProgram.clear();
        blockedDirs.copyError = QStringLiteral("Copy deploy dir error: \"imageformats\"");
        QTest::newRow("plug-in folder copy fails five times") << blockedDirs;

        HandOffCase blockedBackup = blocked;
        blockedBackup.skipFix = true;
        blockedBackup.copyError = QStringLiteral("Copy backup file error : \"a/b/c.dll\"");
        QTest::newRow("backup copy fails five times") << blockedBackup;
    }

    void callTrellim()
    {
        QFETCH(HandOffCase, handOff);
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        const QString installPath = dir.filePath(QStringLiteral("install dir"));
        const QString packetPath = dir.filePath(QStringLiteral("data/Velmora/update/partial"));
        QVERIFY(FolderTree::write(installPath, handOff.installation));
        // A backup of an earlier run, with a leftover that must not survive.
        QVERIFY(
            FolderTree::write(installPath, {{"backup/stale.dll", "stale"}, {"backup/x.bak", "x"}}));
        if (handOff.backupBlockedByFile) {
            QVERIFY(QDir(installPath + QStringLiteral("/backup")).removeRecursively());
            QVERIFY(FolderTree::write(installPath, {{"backup", "a file"}}));
        }
        // What the key "../outside.dll" names beside the installation.
        QVERIFY(FolderTree::write(dir.path(), {{"outside.dll", "not ours"}}));
        QVERIFY(FolderTree::write(packetPath, {{"app.dll", "new app"},
                                               {"a/b/c.dll", "new c"},
                                               {"a/b/c.patch", "patch"},
                                               {"x.PATCH", "kept"}}));
        std::unique_ptr<RecordingTool> setupProgram;
        if (!handOff.setupProgram.isEmpty()) {
            const QFileInfo location(installPath + QLatin1Char('/') + handOff.setupProgram);
            setupProgram =
                std::make_unique<RecordingTool>(location.path(), location.fileName(), dir.path());
        }

        LogCapture log;
        WindowRecorder window;
        auto *controller = new UpdateControl(nullptr);
        controller->installPath = installPath;
        controller->skipFix = handOff.skipFix;
        controller->version = QStringLiteral("2.0");
        controller->logFileName = QStringLiteral("update_test.log");
        controller->configFilePath = dir.filePath(QStringLiteral("data/update.json"));
        controller->launchFailures = handOff.earlierFailures;
        for (const char *key : {"app.dll", "a/b/c.dll", "../outside.dll"})
            controller->config.modify.insert(QLatin1String(key), PatchEntry());
        window.attach(controller);
        QMetaObject::invokeMethod(controller, "callTrellim", Q_ARG(QString, packetPath));
        QTRY_VERIFY_WITH_TIMEOUT(!window.ending.isEmpty(), 20000);
        controller->workerThread->quit();
        QVERIFY(controller->workerThread->wait(10000));

        QCOMPARE(window.ending.section(QLatin1Char(' '), 0, 0), handOff.ending);
        if (handOff.ending == QLatin1String("box"))
            QCOMPARE(window.ending, QStringLiteral("box true ") + UpdateControl::updateErrorText());
        QCOMPARE(linesStartingWith(QStringLiteral("start Trellim failed")), handOff.failedStarts);
        if (!handOff.copyError.isEmpty())
            QCOMPARE(linesStartingWith(handOff.copyError), 5 - handOff.earlierFailures);
        // The patches are gone from the prepared folder before the start.
        const Files packetAfter{
            {"app.dll", "new app"}, {"a/b/c.dll", "new c"}, {"x.PATCH", "kept"}};
        if (!handOff.backupBlockedByFile) {
            Files backup = FolderTree::read(installPath + QStringLiteral("/backup"),
                                            FolderTree::Folders::Empty);
            if (backup.contains(QStringLiteral("Trellim.exe")))
                backup.insert(QStringLiteral("Trellim.exe"), "<setup program>");
            QCOMPARE(backup, handOff.backupAfter);
            QCOMPARE(FolderTree::read(packetPath, FolderTree::Folders::Empty), packetAfter);
        }
        QVERIFY(!QFile::exists(installPath + QStringLiteral("/outside.dll")));

        if (handOff.startedFrom.isEmpty())
            return;
        // The stand-in records its start once it runs.
        QTRY_COMPARE_WITH_TIMEOUT(
            setupProgram->argumentLists(),
            (QList<QStringList>{{QLatin1Char('*') + installPath + QLatin1Char('*'),
                                 QLatin1Char('*') + packetPath + QLatin1Char('*'),
                                 QStringLiteral("update_test.log"), QStringLiteral("update.json"),
                                 QStringLiteral("2.0")}}),
            10000);
        QCOMPARE(linesStartingWith(QStringLiteral("program \"%1/%2/Trellim.exe\"")
                                       .arg(installPath, handOff.startedFrom)),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestDeployment)
#include "tst_deployment.moc"
