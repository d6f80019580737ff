#include "bsdifftestpatch.h"
#include "logcapture.h"
#include "package/bspatch.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define WITH_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WITH_ADDRESS_SANITIZER
#endif
#endif

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// A later version of a file: some regions rewritten, some blocks inserted,
// which shifts everything behind them as a rebuilt program does.
QByteArray modified(QByteArray data, quint32 seed)
{
    QRandomGenerator random(seed);
    for (int i = 0; i < 8; ++i) {
        const int at = random.bounded(data.size());
        const QByteArray region = randomBytes(qMin(200, data.size() - at), seed + i);
        data.replace(at, region.size(), region);
    }
    for (int i = 0; i < 4; ++i)
        data.insert(random.bounded(data.size()), randomBytes(random.bounded(100, 3000), seed * i));
    return data;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QByteArray systemBinary()
{
    return contentOf(QStringLiteral("/usr/bin/ls"));
}

int run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments);
}

const QString CorruptPatch = QRegularExpression::escape(QStringLiteral("\"Corrupt patch\\n\""));

} // namespace

class TestBspatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void agreesWithReferenceTool_data();
    void agreesWithReferenceTool();
    void handMadePatch_data();
    void handMadePatch();
    void failureKeepsExistingNewFile();
    void newSizeThatCannotBeReserved();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    QByteArray local(const QString &name) const { return path(name).toLocal8Bit(); }

    std::unique_ptr<QTemporaryDir> dir;
};

void TestBspatch::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestBspatch::agreesWithReferenceTool_data()
{
    QTest::addColumn<QByteArray>("oldContent");
    QTest::addColumn<QByteArray>("newContent");
    // Null: made by the reference bsdiff, which refuses empty files, so the
    // patches for those are built by hand and applied by both tools.
    QTest::addColumn<QByteArray>("patch");

    const QByteArray random = randomBytes(256 * 1024, 1);
    const QByteArray binary = systemBinary();
    QVERIFY(!binary.isEmpty());
    const QByteArray binaryUpdate = modified(binary, 4);
    QTest::newRow("random data, edited") << random << modified(random, 2) << QByteArray();
    QTest::newRow("random data, unrelated") << random << randomBytes(100 * 1024, 3) << QByteArray();
    QTest::newRow("ELF binary, changed and inserted regions")
        << binary << binaryUpdate << QByteArray();
    QTest::newRow("ELF binary, unchanged") << binary << binary << QByteArray();
    QTest::newRow("empty old file")
        << QByteArray() << binaryUpdate << BsdiffTestPatch::copying(binaryUpdate);
    QTest::newRow("empty new file") << binary << QByteArray() << BsdiffTestPatch(0).bytes();
    QTest::newRow("both empty") << QByteArray() << QByteArray() << BsdiffTestPatch(0).bytes();
}

void TestBspatch::agreesWithReferenceTool()
{
    QFETCH(QByteArray, oldContent);
    QFETCH(QByteArray, newContent);
    QFETCH(QByteArray, patch);
    const QString bsdiff = QStandardPaths::findExecutable(QStringLiteral("bsdiff"));
    const QString bspatch = QStandardPaths::findExecutable(QStringLiteral("bspatch"));
    QVERIFY2(!bsdiff.isEmpty() && !bspatch.isEmpty(), "bsdiff and bspatch must be installed");

    writeFile(path("old"), oldContent);
    writeFile(path("new"), newContent);
    if (patch.isNull())
        QCOMPARE(run(bsdiff, {path("old"), path("new"), path("patch")}), 0);
    else
        writeFile(path("patch"), patch);
    QCOMPARE(run(bspatch, {path("old"), path("reference"), path("patch")}), 0);

    QCOMPARE(bspatchFile(local("old"), local("ours"), local("patch")), 0);
    const QByteArray ours = contentOf(path("ours"));
    QCOMPARE(ours, contentOf(path("reference")));
    QCOMPARE(ours, newContent);
}

void TestBspatch::handMadePatch_data()
{
    QTest::addColumn<QByteArray>("oldContent");
    QTest::addColumn<QByteArray>("patch");
    // A null result means failure: return value 1 and no new file.
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("logPattern");

    const QByteArray old = QByteArrayLiteral("ABCDEFGH");

    BsdiffTestPatch adding(8);
    adding.addTriple(8, 0, 0);
    adding.diff = QByteArray(8, '\1');
    QTest::newRow("adds to the old bytes")
        << old << adding.bytes() << QByteArrayLiteral("BCDEFGHI") << QString();

    // After the first triple the old position is 2 - 5 = -3, so of the next
    // five bytes only the last two meet the old file; the seek past the end
    // then leaves the final bytes alone too.
    BsdiffTestPatch outside(11);
    outside.addTriple(2, 0, -5);
    outside.addTriple(5, 1, 100);
    outside.addTriple(3, 0, 0);
    outside.diff =
        QByteArray::fromHex("0101") + QByteArray::fromHex("1020300101") + QByteArrayLiteral("xyz");
    outside.extra = QByteArrayLiteral("!");
    QTest::newRow("seek outside the old file") << old << outside.bytes()
                                               << QByteArray("BC\x10\x20\x30"
                                                             "BC!xyz")
                                               << QString();

    QTest::newRow("copy only, empty old file")
        << QByteArray("") << BsdiffTestPatch::copying("hello") << QByteArrayLiteral("hello")
        << QString();
    QTest::newRow("empty new file")
        << old << BsdiffTestPatch(0).bytes() << QByteArray("") << QString();

    BsdiffTestPatch copy(4096);
    copy.addTriple(0, 4096, 0);
    copy.extra = randomBytes(4096, 7);
    const QByteArray valid = copy.bytes();
    auto withField = [&](int offset, const QByteArray &field) {
        return QByteArray(valid).replace(offset, 8, field);
    };
    QTest::newRow("bad magic") << old << withField(0, "BSDIFF41") << QByteArray() << CorruptPatch;
    QTest::newRow("negative control length")
        << old << withField(8, BsdiffTestPatch::value(-1)) << QByteArray() << CorruptPatch;
    QTest::newRow("negative difference length")
        << old << withField(16, BsdiffTestPatch::value(-1)) << QByteArray() << CorruptPatch;
    QTest::newRow("negative new size")
        << old << withField(24, BsdiffTestPatch::value(-4096)) << QByteArray() << CorruptPatch;
    QTest::newRow("new size beyond the 32-bit range")
        << old << withField(24, QByteArray::fromHex("0000008000000000")) << QByteArray()
        << CorruptPatch;
    QTest::newRow("new size larger than the blocks yield")
        << old << withField(24, BsdiffTestPatch::value(5000)) << QByteArray() << CorruptPatch;
    QTest::newRow("header cut short") << old << valid.left(20) << QByteArray() << CorruptPatch;
    QTest::newRow("empty patch file") << old << QByteArray("") << QByteArray() << CorruptPatch;
    QTest::newRow("control stream cut short")
        << old << valid.left(32 + 20) << QByteArray() << CorruptPatch;
    QTest::newRow("extra stream cut short")
        << old << valid.left(valid.size() - 100) << QByteArray() << CorruptPatch;

    BsdiffTestPatch cutDiff = adding;
    QTest::newRow("difference stream cut short")
        << old
        << cutDiff.bytes().left(
               int(32 + cutDiff.controlBlockLength() + cutDiff.diffBlockLength() / 2))
        << QByteArray() << CorruptPatch;

    // The control block keeps its "BZh9" stream header, the rest is noise.
    const int controlLength = int(copy.controlBlockLength());
    QByteArray garbage = valid;
    garbage.replace(32 + 4, controlLength - 4, randomBytes(controlLength - 4, 8));
    QTest::newRow("garbage bzip2 data") << old << garbage << QByteArray() << CorruptPatch;

    struct Triple
    {
        const char *name;
        qint64 add, copy, seek;
        QByteArray rawSeek;
    };
    const Triple damaged[] = {
        {"add length past the new size", 9, 0, 0, {}},
        {"copy length past the new size", 4, 5, 0, {}},
        {"negative add length", -4, 12, 0, {}},
        {"negative copy length", 4, -4, 0, {}},
        {"seek beyond the 32-bit range", 4, 0, 0, QByteArray::fromHex("ffffffff00000000")},
    };
    for (const Triple &triple : damaged) {
        BsdiffTestPatch patch(8);
        patch.addTriple(triple.add, triple.copy, triple.seek);
        if (!triple.rawSeek.isEmpty())
            patch.control.replace(16, 8, triple.rawSeek);
        patch.addTriple(4, 0, 0);
        patch.diff = QByteArray(16, '\1');
        patch.extra = QByteArray(16, 'x');
        QTest::newRow(triple.name) << old << patch.bytes() << QByteArray() << CorruptPatch;
    }

    QTest::newRow("control stream ends before the new file is complete") << old << [] {
        BsdiffTestPatch patch(8);
        patch.addTriple(4, 0, 0);
        patch.diff = QByteArray(8, '\1');
        return patch.bytes();
    }() << QByteArray() << CorruptPatch;

    QTest::newRow("missing patch file")
        << old << QByteArray() << QByteArray() << QRegularExpression::escape("\"fopen(");
    QTest::newRow("missing old file")
        << QByteArray() << adding.bytes() << QByteArray() << QStringLiteral("/old\"$");
}

void TestBspatch::handMadePatch()
{
    QFETCH(QByteArray, oldContent);
    QFETCH(QByteArray, patch);
    QFETCH(QByteArray, expected);
    QFETCH(QString, logPattern);
    // A null byte array stands for a file that does not exist.
    if (!oldContent.isNull())
        writeFile(path("old"), oldContent);
    if (!patch.isNull())
        writeFile(path("patch"), patch);
    const QStringList inputs = QDir(dir->path()).entryList(QDir::Files | QDir::Hidden);
    if (!logPattern.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(logPattern));

    const int result = bspatchFile(local("old"), local("new"), local("patch"));

    if (expected.isNull()) {
        QCOMPARE(result, 1);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), inputs);
    } else {
        QCOMPARE(result, 0);
        QVERIFY(QFile::exists(path("new")));
        QCOMPARE(contentOf(path("new")), expected);
    }
}

void TestBspatch::failureKeepsExistingNewFile()
{
    writeFile(path("old"), "old");
    writeFile(path("new"), "left by an earlier run");
    const QByteArray truncated = BsdiffTestPatch::copying(randomBytes(1000, 9)).chopped(100);
    writeFile(path("patch"), truncated);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(CorruptPatch));

    QCOMPARE(bspatchFile(local("old"), local("new"), local("patch")), 1);
    QCOMPARE(contentOf(path("new")), QByteArray("left by an earlier run"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"new", "old", "patch"}));
}

void TestBspatch::newSizeThatCannotBeReserved()
{
#if !defined(Q_OS_LINUX) || defined(WITH_ADDRESS_SANITIZER)
    QSKIP("needs an address-space limit, which the sanitizer's shadow memory does not allow");
#else
    writeFile(path("old"), "old");
    writeFile(path("patch"),
              BsdiffTestPatch::copying("x").replace(24, 8, BsdiffTestPatch::value(0x7fffffff)));
    // Allow the process a further 256 MB of address space, far less than the
    // 2 GB the header asks for.
    const QList<QByteArray> statm = contentOf(QStringLiteral("/proc/self/statm")).split(' ');
    const rlim_t used = rlim_t(statm.value(0).toULongLong()) * rlim_t(sysconf(_SC_PAGESIZE));
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = used + 256 * 1024 * 1024;
    QCOMPARE(setrlimit(RLIMIT_AS, &limited), 0);
    // Had the buffer been reserved, the run would end at the control stream's
    // end with a logged "Corrupt patch"; a failed reservation logs nothing.
    int result = 0;
    QStringList messages;
    {
        LogCapture log;
        result = bspatchFile(local("old"), local("new"), local("patch"));
        messages = LogCapture::lines();
    }
    QCOMPARE(setrlimit(RLIMIT_AS, &saved), 0);

    QCOMPARE(result, 1);
    QCOMPARE(messages, QStringList());
    QVERIFY(!QFile::exists(path("new")));
#endif
}

QTEST_GUILESS_MAIN(TestBspatch)
#include "tst_bspatch.moc"
