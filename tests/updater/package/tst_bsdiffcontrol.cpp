#include "bsdifftestpatch.h"
#include "package/bsdiffcontrol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What the installed copy of a listed file is before the run.
enum class Installed
{
    Original,
    Missing,
    AlreadyNew,
    Other,
    Unreadable
};
// What the patch in the packet does.
enum class Patch
{
    Good,
    Damaged,
    WrongResult
};
// Which expected sum the configuration writes in upper case.
enum class UpperCase
{
    None,
    OldMd5,
    NewMd5
};

struct Entry
{
    QString key;
    Installed installed = Installed::Original;
    Patch patch = Patch::Good;
    bool newAlreadyPresent = false;
    UpperCase upperCase = UpperCase::None;
    // Expected state after the run.
    bool newFileWritten = true;
    bool patchKept = false;
};

QByteArray oldContent(const QString &key)
{
    return "installed " + key.toUtf8() + QByteArray(300, 'o');
}

QByteArray newContent(const QString &key)
{
    return "patched " + key.toUtf8() + QByteArray(500, 'n');
}

QByteArray otherContent(const QString &key)
{
    return "tampered " + key.toUtf8();
}

QByteArray wrongContent(const QString &key)
{
    return "wrong result " + key.toUtf8();
}

QString md5(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

} // namespace

Q_DECLARE_METATYPE(Entry)

class TestBsdiffControl : public QObject
{
    Q_OBJECT

private slots:
    void applyPatchList_data();
    void applyPatchList();
};

void TestBsdiffControl::applyPatchList_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    // Empty for success; <old> and <new> stand for the two directories.
    QTest::addColumn<QString>("failure");

    auto entry = [](const QString &key) {
        Entry e;
        e.key = key;
        return e;
    };
    const QString key = QStringLiteral("bin/app.dll");

    QTest::newRow("empty list") << QList<Entry>() << QString();

    Entry present = entry(key);
    present.installed = Installed::Missing;
    present.newAlreadyPresent = true;
    present.patchKept = true;
    QTest::newRow("new file already present") << QList<Entry>{present} << QString();

    Entry alreadyNew = entry(key);
    alreadyNew.installed = Installed::AlreadyNew;
    alreadyNew.newFileWritten = false;
    alreadyNew.patchKept = true;
    QTest::newRow("installed file already new, patch kept")
        << QList<Entry>{alreadyNew} << QString();

    // Entries of a failed run that leave nothing behind.
    Entry untouched = entry(key);
    untouched.newFileWritten = false;
    untouched.patchKept = true;

    Entry missing = untouched;
    missing.installed = Installed::Missing;
    QTest::newRow("missing installed file")
        << QList<Entry>{missing} << QStringLiteral("Missing <old>/bin/app.dll");

    Entry other = untouched;
    other.installed = Installed::Other;
    QTest::newRow("wrong old md5")
        << QList<Entry>{other}
        << QStringLiteral("<old>/bin/app.dll  md5 is not match,file md5 %1,json md5 %2")
               .arg(md5(otherContent(key)), md5(oldContent(key)));

    Entry unreadable = untouched;
    unreadable.installed = Installed::Unreadable;
    QTest::newRow("unreadable installed file")
        << QList<Entry>{unreadable}
        << QStringLiteral("<old>/bin/app.dll  md5 is not match,file md5 ,json md5 %1")
               .arg(md5(oldContent(key)));

    Entry upperOld = untouched;
    upperOld.upperCase = UpperCase::OldMd5;
    QTest::newRow("upper-case old md5")
        << QList<Entry>{upperOld}
        << QStringLiteral("<old>/bin/app.dll  md5 is not match,file md5 %1,json md5 %2")
               .arg(md5(oldContent(key)), md5(oldContent(key)).toUpper());

    Entry damaged = untouched;
    damaged.patch = Patch::Damaged;
    QTest::newRow("damaged patch")
        << QList<Entry>{damaged} << QStringLiteral("Faile to patch <old>/bin/app.dll");

    Entry wrongResult = entry(key);
    wrongResult.patch = Patch::WrongResult;
    wrongResult.patchKept = true;
    QTest::newRow("wrong result md5")
        << QList<Entry>{wrongResult}
        << QStringLiteral(
               "Patch ok,but out file(<new>/bin/app.dll) md5 is not match,error md5 is %1")
               .arg(md5(wrongContent(key)));

    Entry upperNew = entry(key);
    upperNew.upperCase = UpperCase::NewMd5;
    upperNew.patchKept = true;
    QTest::newRow("upper-case new md5")
        << QList<Entry>{upperNew}
        << QStringLiteral(
               "Patch ok,but out file(<new>/bin/app.dll) md5 is not match,error md5 is %1")
               .arg(md5(newContent(key)));

    // The rebuilt file would land outside the packet folder.
    Entry escaping = untouched;
    escaping.installed = Installed::Missing;
    escaping.key = QStringLiteral("../escaped.dll");
    QTest::newRow("key leading out of the folders")
        << QList<Entry>{escaping}
        << QStringLiteral("Path leaves its folder: ../escaped.dll ../escaped.dll.patch");

    QTest::newRow("all patched") << QList<Entry>{entry("a.exe"), entry(key)} << QString();

    // Key order is case-sensitive: "B" and "C" sort before "a".
    Entry failing = damaged;
    failing.key = QStringLiteral("a.exe");
    Entry notReached = untouched;
    notReached.key = QStringLiteral("d.txt");
    QTest::newRow("key order, failure in the middle")
        << QList<Entry>{notReached, failing, entry("C/lib.so"), entry("B.dll")}
        << QStringLiteral("Faile to patch <old>/a.exe");
}

void TestBsdiffControl::applyPatchList()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    BsdiffControl control;
    control.oldDir = dir.filePath("installed");
    control.patchDir = dir.filePath("packet");
    control.newDir = dir.filePath("patched");
    QVERIFY(QDir().mkpath(control.oldDir));
    QVERIFY(QDir().mkpath(control.patchDir));
    for (const Entry &e : entries) {
        const QString oldPath = control.oldDir + "/" + e.key;
        switch (e.installed) {
        case Installed::Original:
            writeFile(oldPath, oldContent(e.key));
            break;
        case Installed::AlreadyNew:
            writeFile(oldPath, newContent(e.key));
            break;
        case Installed::Other:
            writeFile(oldPath, otherContent(e.key));
            break;
        case Installed::Unreadable:
            // A directory exists under the name but cannot be read as a file.
            QVERIFY(QDir().mkpath(oldPath));
            break;
        case Installed::Missing:
            break;
        }
        const QByteArray patch =
            e.patch == Patch::Good          ? BsdiffTestPatch::copying(newContent(e.key))
            : e.patch == Patch::WrongResult ? BsdiffTestPatch::copying(wrongContent(e.key))
                                            : QByteArray("BSDIFF40 damaged");
        writeFile(control.patchDir + "/" + e.key + ".patch", patch);
        // The unpacked packet already holds the folders of the files it patches.
        QVERIFY(QDir().mkpath(QFileInfo(control.newDir + "/" + e.key).absolutePath()));
        if (e.newAlreadyPresent)
            writeFile(control.newDir + "/" + e.key, newContent(e.key));

        PatchEntry patchEntry;
        patchEntry.oldFileMd5 = md5(oldContent(e.key)).toLatin1();
        patchEntry.newFileMd5 = md5(newContent(e.key)).toLatin1();
        if (e.upperCase == UpperCase::OldMd5)
            patchEntry.oldFileMd5 = patchEntry.oldFileMd5.toUpper();
        if (e.upperCase == UpperCase::NewMd5)
            patchEntry.newFileMd5 = patchEntry.newFileMd5.toUpper();
        patchEntry.filePatch = e.key + ".patch";
        control.modifyList.insert(e.key, patchEntry);
    }

    QSignalSpy success(&control, SIGNAL(bsdiffSuccessSignal()));
    QSignalSpy failed(&control, SIGNAL(bsdiffFailSignal(QString)));
    control.applyPatchList();

    QCOMPARE(success.count() + failed.count(), 1);
    if (failure.isEmpty()) {
        QCOMPARE(success.count(), 1);
    } else {
        QCOMPARE(failed.count(), 1);
        QString expected = failure;
        expected.replace("<old>", control.oldDir).replace("<new>", control.newDir);
        QCOMPARE(failed.first().first().toString(), expected);
    }
    for (const Entry &e : entries) {
        const QString newPath = control.newDir + "/" + e.key;
        QCOMPARE(QFile::exists(newPath), e.newFileWritten);
        if (e.newFileWritten)
            QCOMPARE(contentOf(newPath),
                     e.patch == Patch::WrongResult ? wrongContent(e.key) : newContent(e.key));
        QCOMPARE(QFile::exists(control.patchDir + "/" + e.key + ".patch"), e.patchKept);
        if (e.installed == Installed::Original)
            QCOMPARE(contentOf(control.oldDir + "/" + e.key), oldContent(e.key));
    }
}

QTEST_GUILESS_MAIN(TestBsdiffControl)
#include "tst_bsdiffcontrol.moc"
