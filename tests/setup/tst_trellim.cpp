#include "foldertree.h"
#include "setupsandbox.h"
#include "smalldisk.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <memory>

using Tree = FolderTree::Tree;

struct ApplyCase
{
    QString installName;
    bool catUpdateLog;
    bool mainApplicationExecutable;
    bool readOnlyFiles = false; // the files it replaces are read-only (on Windows: the attribute)
};
Q_DECLARE_METATYPE(ApplyCase)

struct FailureCase
{
    Tree obstacle; // in the installation, where the prepared folder needs something else
    Tree prepared;
    Tree changedAfterCheck; // prepared files changed after the updater recorded their sums
    QString disk;           // the installation on a "full" or "read-only" disk
    QString logged;
    QString heldOpen = {}; // an installed file the test keeps open during the run
};
Q_DECLARE_METATYPE(FailureCase)

struct InterruptedCase
{
    QByteArray journal; // empty: the run was cut short before its journal was written
    Tree prepared;
    Tree leftOver; // what the interrupted run left that stays
    // The installation's entry moved into the user's documents and replaced
    // by a link to them, as another account may plant it.
    QString linkedAway;
    bool emptyLock = false; // left by a run killed before it wrote its lock
};
Q_DECLARE_METATYPE(InterruptedCase)

struct BadArgumentsCase
{
    int index;     // the argument replaced; -1: the last one dropped
    QString value; // "%1" stands for the sandbox folder
    bool logged;
};
Q_DECLARE_METATYPE(BadArgumentsCase)

class TestTrellim : public QObject
{
    Q_OBJECT

    const Tree installed{{"a.dll", "old a"},
                         {"c.txt", "old c"},
                         {"keep.txt", "keep"},
                         {"backup/a.dll", "old a"},
                         {"backup/c.txt", "stale"}};
    const QString stamp =
        QStringLiteral("\\(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\) ");

private slots:
    // The previous version of a.dll comes from the backup folder, those of c.txt
    // (whose backup copy is stale) and Velmora are copied aside.
    void appliesPreparedFolder_data()
    {
        QTest::addColumn<ApplyCase>("row");
        QTest::newRow("plain path") << ApplyCase{"velmora", false, true};
        QTest::newRow("blanks and Chinese")
            << ApplyCase{QStringLiteral("Program Files/维尔莫拉 课堂"), false, true};
        QTest::newRow("log on the desktop") << ApplyCase{"velmora", true, true};
        QTest::newRow("main application not executable") << ApplyCase{"velmora", false, false};
        QTest::newRow("read-only files replaced") << ApplyCase{"velmora", false, true, true};
    }
    void appliesPreparedFolder()
    {
        QFETCH(ApplyCase, row);
#ifdef Q_OS_WIN
        if (!row.mainApplicationExecutable)
            QSKIP("Windows has no execute permission: any file may be started");
#endif
        SetupSandbox sandbox(row.installName);
        sandbox.install(installed);
        sandbox.addMainApplication(row.mainApplicationExecutable);
        const QString mainApplication = SetupSandbox::mainApplicationName();
        if (row.readOnlyFiles) {
            for (const QString &name : {QStringLiteral("a.dll"), QStringLiteral("c.txt")})
                QVERIFY(QFile::setPermissions(sandbox.installPath + QLatin1Char('/') + name,
                                              QFileDevice::ReadOwner | QFileDevice::ReadUser));
        }
        // The new main application comes without the execute permission; the
        // installed one keeps its own. (Bytes after a Windows program's end
        // do not keep it from starting.)
        const QByteArray newMainApplication =
            SetupSandbox::read(sandbox.installPath + QLatin1Char('/') + mainApplication) +
            "# new\n";
        sandbox.prepare({{"a.dll", "new a"},
                         {"c.txt", "new c"},
                         {mainApplication, newMainApplication},
                         {".hidden", "h"},
                         {"lib/plugins/x.dll", "new x"}});
        if (row.catUpdateLog)
            SetupSandbox::write(sandbox.settingsPath(), "[General]\nCatUpdateLog=true\n");
        SetupSandbox::write(sandbox.logPath(row.catUpdateLog), "earlier line\r\n");
        Tree expected = FolderTree::read(sandbox.installPath);
        expected.insert(QStringLiteral("a.dll"), "new a");
        expected.insert(QStringLiteral("c.txt"), "new c");
        expected.insert(mainApplication, newMainApplication);
        expected.insert(QStringLiteral(".hidden"), "h");
        expected.insert(QStringLiteral("lib/"), QByteArray());
        expected.insert(QStringLiteral("lib/plugins/"), QByteArray());
        expected.insert(QStringLiteral("lib/plugins/x.dll"), "new x");

        QCOMPARE(sandbox.run(sandbox.arguments()), 0);

        QCOMPARE(FolderTree::read(sandbox.installPath), expected);
        QVERIFY(!QFileInfo::exists(sandbox.packetPath));
        QVERIFY(QFileInfo(sandbox.path(QStringLiteral("data/Velmora/update"))).isDir());
        const QStringList lines = sandbox.logLines(row.catUpdateLog);
        QVERIFY(lines.size() > 3);
        QCOMPARE(lines.first(), QStringLiteral("earlier line"));
        const QRegularExpression ownLine(QStringLiteral("^##Trellim##(Debug|Critical): ") + stamp);
        for (const QString &line : lines.mid(1))
            QVERIFY2(ownLine.match(line).hasMatch(), qPrintable(line));
        QVERIFY(sandbox.logHas(QStringLiteral(" update installed: 3 files replaced, 2 files added"),
                               row.catUpdateLog));
        QCOMPARE(QFileInfo(sandbox.installPath + QLatin1Char('/') + mainApplication).isExecutable(),
                 row.mainApplicationExecutable);
        if (row.mainApplicationExecutable) {
            const QString record = sandbox.mainApplicationRecord();
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 0, 10000);
            QCOMPARE(QFileInfo(QString::fromUtf8(SetupSandbox::read(record).trimmed()))
                         .canonicalFilePath(),
                     QFileInfo(sandbox.installPath).canonicalFilePath());
        } else {
            QVERIFY(sandbox.logHas(QStringLiteral("may not be started")));
            QVERIFY(!QFileInfo::exists(sandbox.mainApplicationRecord()));
        }
    }

    // The last file cannot be put in place after others were: everything is
    // put back. Tests may run as root, so the obstacle is structural.
    void failureLeavesInstallationAsItWas_data()
    {
        QTest::addColumn<FailureCase>("row");
        // The backup folder's stale c.txt must not come back in place of the installed one.
        const Tree prepared{
            {"a.dll", "new a"}, {"b/c/new.dll", "new"}, {"c.txt", "new c"}, {"n.dll", "new n"}};
        Tree folderInTheWay = prepared;
        folderInTheWay.insert(QStringLiteral("z.dll"), "new z");
        Tree fileInTheWay = prepared;
        fileInTheWay.insert(QStringLiteral("lib/x.dll"), "new x");
        const QString rolledBack = QStringLiteral("added \"b/c/new.dll\"");
        QTest::newRow("folder where a file must go")
            << FailureCase{{{"z.dll/inner.txt", "inner"}}, folderInTheWay, {}, {}, rolledBack};
        QTest::newRow("file where a folder must go")
            << FailureCase{{{"lib", "a file"}}, fileInTheWay, {}, {}, rolledBack};
        QTest::newRow("prepared file changed after it was checked")
            << FailureCase{{}, prepared, {{"n.dll", "x"}}, {}, "differs from the sum"};
        // The lock cannot be written: the log says why, in the system's words.
        QTest::newRow("full disk")
            << FailureCase{{}, prepared, {}, "full", "No space left on device"};
        QTest::newRow("read-only disk")
            << FailureCase{{}, prepared, {}, "read-only", "Read-only file system"};
        // Elsewhere an open file never keeps a new one from taking its name.
#ifdef Q_OS_WIN
        QTest::newRow("file in use")
            << FailureCase{{}, prepared, {}, {}, "replaced \"a.dll\"", "c.txt"};
#endif
    }
    void failureLeavesInstallationAsItWas()
    {
        QFETCH(FailureCase, row);
        SetupSandbox sandbox;
        std::unique_ptr<SmallDisk> disk;
        if (!row.disk.isEmpty()) {
            disk = std::make_unique<SmallDisk>(sandbox.installPath);
            if (!disk->mounted())
                QSKIP("needs a small disk: a tmpfs that root mounts");
        }
        sandbox.install(installed);
        sandbox.install(row.obstacle);
        sandbox.prepare(row.prepared);
        FolderTree::write(sandbox.packetPath, row.changedAfterCheck);
        sandbox.addMainApplication(true);
        if (!row.disk.isEmpty())
            QVERIFY(row.disk == QLatin1String("full") ? disk->fill() : disk->makeReadOnly());
        const Tree before = FolderTree::read(sandbox.installPath);
        const Tree prepared = FolderTree::read(sandbox.packetPath);
        // Opened as programs open files, sharing reading and writing but not deletion.
        QFile inUse(sandbox.installPath + QLatin1Char('/') + row.heldOpen);
        QVERIFY(row.heldOpen.isEmpty() || inUse.open(QIODevice::ReadOnly));

        QCOMPARE(sandbox.run(sandbox.arguments()), 1);
        inUse.close();

        QCOMPARE(FolderTree::read(sandbox.installPath), before);
        QCOMPARE(FolderTree::read(sandbox.packetPath), prepared);
        QVERIFY2(sandbox.logHas(row.logged),
                 qPrintable(sandbox.logLines().join(QLatin1Char('\n'))));
        QVERIFY(sandbox.logHas(QStringLiteral(" update failed;")));
        // The user is not left without the application.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sandbox.mainApplicationRecord()).size() > 0, 10000);
    }

    // A run cut short after it replaced a.dll, began writing b.dll and added
    // lib/x.dll is undone before anything else on the next start. A journal
    // that cannot be read does not stop updates: the previous versions it
    // saved are put back. Nothing is followed through a link.
    void interruptedRunRolledBack_data()
    {
        QTest::addColumn<InterruptedCase>("row");
        const QByteArray journal = R"({"format": 1, "replaced": ["a.dll", "b.dll"],
            "added": ["lib/x.dll"], "createdFolders": ["lib"]})";
        const Tree addedByLostJournal{{"lib/", ""}, {"lib/x.dll", "new x"}};
        QTest::newRow("rolled back") << InterruptedCase{journal, {}, {}, {}};
        QTest::newRow("rolled back, then installed")
            << InterruptedCase{journal, {{"b.dll", "newer b"}}, {}, {}};
        QTest::newRow("journal never written") << InterruptedCase{QByteArray(), {}, {}, {}};
        QTest::newRow("journal never written, lock left empty")
            << InterruptedCase{QByteArray(), {}, {}, {}, true};
        QTest::newRow("journal unreadable")
            << InterruptedCase{"{\"format\": 1,", {}, addedByLostJournal, {}};
        QTest::newRow("journal reaching outside")
            << InterruptedCase{R"({"format": 1, "replaced": [], "added": ["../outside"],
                "createdFolders": []})",
                               {},
                               addedByLostJournal,
                               {}};
        QTest::newRow("journal folder is a link") << InterruptedCase{
            journal,
            {},
            {{"a.dll", "new a"}, {"b.dll.trellim-new", "ne"}, {"lib/", ""}, {"lib/x.dll", "new x"}},
            "Trellim.journal"};
        // The link stays; a linked folder reads as a file that cannot be read.
        QTest::newRow("added file behind a link")
            << InterruptedCase{journal, {}, {{"lib", "<unreadable>"}}, "lib"};
    }
    void interruptedRunRolledBack()
    {
        QFETCH(InterruptedCase, row);
        SetupSandbox sandbox;
        SetupSandbox::write(sandbox.path(QStringLiteral("outside")), "not ours");
        const Tree original{{"a.dll", "old a"}, {"b.dll", "old b"}, {"keep.txt", "keep"}};
        sandbox.install(original);
        sandbox.install(
            {{"Trellim.journal/saved/a.dll", "old a"}, {"Trellim.journal/saved/b.dll", "old b"}});
        if (!row.journal.isEmpty()) {
            sandbox.install({{"Trellim.journal/journal.json", row.journal},
                             {"a.dll", "new a"},
                             {"b.dll.trellim-new", "ne"},
                             {"lib/x.dll", "new x"}});
        }
        const QString documents = sandbox.path(QStringLiteral("documents"));
        if (!row.linkedAway.isEmpty()) {
#ifdef Q_OS_WIN
            QSKIP("QFile::link makes a shortcut file on Windows, which nothing follows");
#endif
            const QString entry = sandbox.installPath + QLatin1Char('/') + row.linkedAway;
            QVERIFY(QFile::rename(entry, documents) && QFile::link(documents, entry));
        }
        QFile lock(sandbox.installPath + QStringLiteral("/Trellim.lock"));
        if (row.emptyLock) {
            QVERIFY(lock.open(QIODevice::WriteOnly) &&
                    lock.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                     QFileDevice::FileModificationTime));
            // A killed run holds the file no longer (on Windows an open one is in use).
            lock.close();
        }
        const Tree documentsBefore = FolderTree::read(documents);
        sandbox.prepare(row.prepared);

        QCOMPARE(sandbox.run(sandbox.arguments()), 0);

        Tree expected = original;
        for (const Tree &more : {row.leftOver, row.prepared}) {
            for (auto it = more.cbegin(); it != more.cend(); ++it)
                expected.insert(it.key(), it.value());
        }
        QCOMPARE(FolderTree::read(sandbox.installPath), expected);
        QVERIFY(!QFileInfo::exists(sandbox.packetPath));
        QVERIFY(QFileInfo::exists(sandbox.path(QStringLiteral("outside"))));
        QCOMPARE(FolderTree::read(documents), documentsBefore);
    }

    void badArgumentsTouchNothing_data()
    {
        QTest::addColumn<BadArgumentsCase>("row");
        QTest::newRow("four arguments") << BadArgumentsCase{-1, QString(), true};
        QTest::newRow("log name with a folder") << BadArgumentsCase{2, "../trellim.log", false};
        QTest::newRow("relative install path") << BadArgumentsCase{0, "*velmora*", true};
        QTest::newRow("missing prepared folder") << BadArgumentsCase{1, "*%1/nowhere*", true};
        QTest::newRow("prepared folder is the installation")
            << BadArgumentsCase{1, "*%1/velmora*", true};
        QTest::newRow("installation inside the prepared folder")
            << BadArgumentsCase{1, "*%1*", true};
    }
    void badArgumentsTouchNothing()
    {
        QFETCH(BadArgumentsCase, row);
        SetupSandbox sandbox;
        sandbox.install(installed);
        sandbox.prepare({{"a.dll", "new a"}});
        const Tree before = FolderTree::read(sandbox.dir.path());
        QStringList arguments = sandbox.arguments();
        if (row.index < 0)
            arguments.removeLast();
        else
            arguments[row.index] =
                QString(row.value).replace(QStringLiteral("%1"), sandbox.dir.path());

        QCOMPARE(sandbox.run(arguments), 2);

        Tree after = FolderTree::read(sandbox.dir.path());
        after.remove(QDir(sandbox.dir.path()).relativeFilePath(sandbox.logPath()));
        QCOMPARE(after, before);
        QCOMPARE(QFileInfo::exists(sandbox.logPath()), row.logged);
        if (row.logged)
            QVERIFY(QRegularExpression(QStringLiteral("^##Trellim##Critical: ") + stamp)
                        .match(sandbox.logLines().last())
                        .hasMatch());
    }

    // A stand-in updater starts Trellim, as the real one does, and looks at the
    // installation once more before it ends: nothing is replaced yet.
    void waitsForTheUpdaterToEnd()
    {
        SetupSandbox sandbox;
        sandbox.install(installed);
        sandbox.addMainApplication(true);
        sandbox.prepare({{"a.dll", "new a"}});
        QProcessEnvironment environment = sandbox.environment();
#ifdef Q_OS_WIN
        const QString updater = sandbox.path(QStringLiteral("bin/update.exe"));
        QVERIFY(QDir().mkpath(sandbox.path(QStringLiteral("bin"))));
        QVERIFY(QFile::copy(QString::fromLocal8Bit(qgetenv("STANDIN_PROGRAM")), updater));
        environment.insert(QStringLiteral("STANDIN_WATCH"),
                           sandbox.installPath + QStringLiteral("/a.dll"));
        environment.insert(QStringLiteral("STANDIN_SEEN"),
                           sandbox.path(QStringLiteral("seen-by-updater")));
#else
        const QString updater = sandbox.path(QStringLiteral("bin/update"));
        SetupSandbox::write(
            updater, QStringLiteral("#!/bin/sh\n\"$TRELLIM\" \"$@\" &\nsleep 2\n"
                                    "cat '%1/a.dll' > '%2'\n")
                         .arg(sandbox.installPath, sandbox.path(QStringLiteral("seen-by-updater")))
                         .toUtf8());
        QFile::setPermissions(updater, QFile::permissions(updater) | QFileDevice::ExeOwner);
#endif

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(updater, sandbox.arguments());
        QVERIFY(process.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sandbox.mainApplicationRecord()).size() > 0, 20000);

        QCOMPARE(SetupSandbox::read(sandbox.path(QStringLiteral("seen-by-updater"))),
                 QByteArray("old a"));
        QCOMPARE(SetupSandbox::read(sandbox.installPath + QStringLiteral("/a.dll")),
                 QByteArray("new a"));
        QVERIFY(sandbox.logHas(QStringLiteral(" waiting for the updater to end, process")));
        QVERIFY(sandbox.logHas(QStringLiteral(" the updater has ended")));
    }
};

QTEST_GUILESS_MAIN(TestTrellim)
#include "tst_trellim.moc"
