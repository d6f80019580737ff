// Unpacking packets made by the system's 7zz with the Uncompress worker.
#include "extractiontestsupport.h"
#include "logcapture.h"
#include "package/uncompress.h"
#include "smalldisk.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

using namespace ExtractionTestSupport;

class TstExtraction : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void everyCoder_data();
    void everyCoder();
    void failure_data();
    void failure();
    void existingFileReplaced();
    void fileWhereFolderIsNeeded_data();
    void fileWhereFolderIsNeeded();
    void chineseNames();
    void decomposedNames();
    void splitArchive();
    void compressedFile_data();
    void compressedFile();
    void modes();
    void preciseAndEarlyTimes();
    void storedAccessTime();
    void fullDisk_data();
    void fullDisk();

private:
    // Unpacks into target and checks that exactly one signal came.
    bool uncompress(const QString &packet, const QString &target);
    enum Compared
    {
        Modes = 1,
        Times = 2,
    };
    // Checks that target holds what `7zz x` makes of the packet: the same
    // entries, byte for byte, and as asked the same modes and modification times.
    void compareWith7zz(const QString &packet, const QString &target, int compared = Modes | Times);
    QString makeSourceTree();
    QString makePacket(const QString &name, const QStringList &options);

    QScopedPointer<QTemporaryDir> m_work;
    std::unique_ptr<LogCapture> m_log;
};

void TstExtraction::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("7zz")).isEmpty(),
             "the tests need 7zz (Debian package 7zip)");
}

void TstExtraction::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    m_log.reset();
    m_log = std::make_unique<LogCapture>();
}

bool TstExtraction::uncompress(const QString &packet, const QString &target)
{
    Uncompress worker;
    QSignalSpy ok(&worker, SIGNAL(UncompressPacketOKSignal()));
    QSignalSpy fail(&worker, SIGNAL(UncompressPacketFailSignal()));
    worker.archivePath = packet;
    worker.targetDir = target;
    worker.uncompressPacket();
    if (ok.count() + fail.count() != 1)
        qFatal("uncompressPacket emitted %d signals", ok.count() + fail.count());
    return ok.count() == 1;
}

// Text, machine code, noise, an empty file, an empty folder, nested folders
// and an executable, all with a modification time in the past.
QString TstExtraction::makeSourceTree()
{
    const QString source = m_work->filePath(QStringLiteral("source"));
    QByteArray text;
    for (int line = 0; line < 2000; ++line)
        text += "line " + QByteArray::number(line) + " of some packet text\n";
    writeFile(source + QStringLiteral("/readme.txt"), text);
    writeFile(source + QStringLiteral("/bin/program"),
              readFile(QCoreApplication::applicationFilePath()).left(96 * 1024));
    writeFile(source + QStringLiteral("/data/noise.bin"), noise(40000, 7));
    writeFile(source + QStringLiteral("/data/deeper/deepest/note.txt"), "nested\n");
    writeFile(source + QStringLiteral("/empty.txt"), QByteArray());
    QDir().mkpath(source + QStringLiteral("/emptyfolder"));
    QFile::setPermissions(source + QStringLiteral("/bin/program"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                              QFile::ExeOther);
    const QDateTime past(QDate(2020, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
    for (const QString &entry : listTree(source)) {
        QFile file(source + QLatin1Char('/') + entry);
        if (!entry.endsWith(QLatin1Char('/')) && file.open(QIODevice::ReadWrite))
            file.setFileTime(past, QFileDevice::FileModificationTime);
    }
    return source;
}

QString TstExtraction::makePacket(const QString &name, const QStringList &options)
{
    const QString packet = m_work->filePath(name);
    // Options that name files replace the default of the whole tree.
    QStringList arguments = options;
    if (std::none_of(options.cbegin(), options.cend(),
                     [](const QString &option) { return !option.startsWith(QLatin1Char('-')); }))
        arguments.append(QStringLiteral("."));
    const bool made = run7zz(
        QStringList{QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-bd"), packet} +
            arguments,
        m_work->filePath(QStringLiteral("source")));
    return made ? packet : QString();
}

namespace {

enum class Source
{
    Tree,
    // One file of 65537 zero bytes: unpacked sizes near a multiple of 64 KiB
    // once tripped up branch filters followed by LZMA.
    Zeros65537,
};

struct CoderRow
{
    QString name;
    QStringList options;
    QString method;
    Source source;
};

} // namespace
Q_DECLARE_METATYPE(CoderRow)

// Every filter with Copy, LZMA and LZMA2 after it, the three alone and BCJ2,
// each solid and not solid.
void TstExtraction::everyCoder_data()
{
    QTest::addColumn<CoderRow>("row");

    QList<CoderRow> rows;
    const QStringList compressors = {QStringLiteral("Copy"), QStringLiteral("LZMA"),
                                     QStringLiteral("LZMA2")};
    for (const QString &compressor : compressors)
        rows.append({compressor, {QStringLiteral("-m0=") + compressor}, compressor, Source::Tree});
    for (const QString &filter :
         {QStringLiteral("BCJ"), QStringLiteral("PPC"), QStringLiteral("IA64"),
          QStringLiteral("ARM"), QStringLiteral("ARMT"), QStringLiteral("SPARC"),
          QStringLiteral("Swap2"), QStringLiteral("Swap4"), QStringLiteral("Delta:4")}) {
        for (const QString &compressor : compressors) {
            rows.append({filter + QLatin1Char('+') + compressor,
                         {QStringLiteral("-m0=") + filter, QStringLiteral("-m1=") + compressor},
                         filter.section(QLatin1Char(':'), 0, 0) + QLatin1Char(' '),
                         Source::Tree});
        }
    }
    rows.append(
        {QStringLiteral("BCJ2"),
         {QStringLiteral("-m0=BCJ2"), QStringLiteral("-m1=LZMA2"), QStringLiteral("-m2=LZMA"),
          QStringLiteral("-m3=LZMA"), QStringLiteral("-mb0s0:1"), QStringLiteral("-mb0s1:2"),
          QStringLiteral("-mb0s2:3")},
         QStringLiteral("BCJ2"),
         Source::Tree});
    for (const CoderRow &row : qAsConst(rows)) {
        for (const bool solid : {true, false}) {
            CoderRow variant = row;
            variant.options << QStringLiteral("-mf=off")
                            << (solid ? QStringLiteral("-ms=on") : QStringLiteral("-ms=off"));
            QTest::newRow(qPrintable(
                row.name + (solid ? QStringLiteral(" solid") : QStringLiteral(" non-solid"))))
                << variant;
        }
    }
    QTest::newRow("BCJ+LZMA of 65537 zero bytes") << CoderRow{
        QString(),
        {QStringLiteral("-m0=BCJ"), QStringLiteral("-m1=LZMA"), QStringLiteral("-mf=off")},
        QStringLiteral("BCJ "),
        Source::Zeros65537};
}

void TstExtraction::everyCoder()
{
    QFETCH(CoderRow, row);

    if (row.source == Source::Tree)
        makeSourceTree();
    else
        QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/zeros.bin")),
                          QByteArray(65537, '\0')));
    const QString packet = makePacket(QStringLiteral("packet.7z"), row.options);
    QVERIFY(!packet.isEmpty());
    QVERIFY2(archiveMethods(packet).contains(row.method), qPrintable(archiveMethods(packet)));
    const QString target = m_work->filePath(QStringLiteral("update/packet"));

    QVERIFY2(uncompress(packet, target), qPrintable(capturedLog()));
    compareWith7zz(packet, target);
}

void TstExtraction::compareWith7zz(const QString &packet, const QString &target, int compared)
{
    const QString reference = m_work->filePath(QStringLiteral("reference"));
    QDir(reference).removeRecursively();
    QVERIFY(run7zz({QStringLiteral("x"), QStringLiteral("-bd"), QStringLiteral("-y"),
                    QStringLiteral("-o") + reference, packet},
                   m_work->path()));
    const QStringList entries = listTree(reference);
    QVERIFY(!entries.isEmpty());
    QCOMPARE(listTree(target), entries);
    for (const QString &entry : entries) {
        const QString ours = target + QLatin1Char('/') + entry;
        const QString theirs = reference + QLatin1Char('/') + entry;
        if (compared & Modes)
            QVERIFY2(QFileInfo(ours).permissions() == QFileInfo(theirs).permissions(),
                     qPrintable(entry));
        if (entry.endsWith(QLatin1Char('/')))
            continue;
        QVERIFY2(readFile(ours) == readFile(theirs), qPrintable(entry));
        if (compared & Times)
            QCOMPARE(modificationTime(ours), modificationTime(theirs));
    }
}

void TstExtraction::failure_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("parentRemoved");
    QTest::addColumn<QString>("logged");

    QTest::newRow("not an archive") << "text" << true << "No CArc found";
    QTest::newRow("unreadable file") << "missing" << true << "Could not open archive";
    QTest::newRow("truncated archive") << "truncated" << true << "Could not open archive";
    // Coders that packets do not use are not built in.
    QTest::newRow("PPMd coder") << "-m0=PPMd" << false << "unsupported method";
    QTest::newRow("BZip2 coder") << "-m0=BZip2" << false << "unsupported method";
    QTest::newRow("Deflate coder") << "-m0=Deflate" << false << "unsupported method";
    QTest::newRow("flipped Copy byte") << "flipped" << false << "CRC error";
    QTest::newRow("flipped LZMA byte") << "flipped lzma" << false << "Damaged item";
    // Written out raw as one item, the data would pass for an unpacked packet.
    QTest::newRow("no archive named like a first volume")
        << "volume text" << true << "the joined volumes hold no archive";
    QTest::newRow("middle volume missing")
        << "volume 2 missing" << true << "Could not open archive";
    QTest::newRow("last volume missing") << "volume 3 missing" << true << "Could not open archive";
}

// A failed packet leaves no file behind, and the folder that was to hold
// the target goes again when nothing came into it.
void TstExtraction::failure()
{
    QFETCH(QString, kind);
    QFETCH(bool, parentRemoved);
    QFETCH(QString, logged);

    makeSourceTree();
    QString packet = m_work->filePath(QStringLiteral("packet.7z"));
    if (kind == QLatin1String("text")) {
        QVERIFY(writeFile(packet, "this is not an archive at all\n"));
    } else if (kind == QLatin1String("truncated")) {
        QVERIFY(!makePacket(QStringLiteral("packet.7z"), {QStringLiteral("-m0=LZMA2")}).isEmpty());
        const QByteArray whole = readFile(packet);
        QVERIFY(writeFile(packet, whole.left(whole.size() / 2)));
    } else if (kind.startsWith(QLatin1String("-m0=")) ||
               kind.startsWith(QLatin1String("flipped"))) {
        // One file, so that nothing is written before the item that fails.
        QDir(m_work->filePath(QStringLiteral("source"))).removeRecursively();
        QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/sub/only.bin")), noise(5000, 3)));
        const QString coder = kind == QLatin1String("flipped")        ? QStringLiteral("-m0=Copy")
                              : kind == QLatin1String("flipped lzma") ? QStringLiteral("-m0=LZMA")
                                                                      : kind;
        QVERIFY(!makePacket(QStringLiteral("packet.7z"),
                            {coder, QStringLiteral("-mf=off"), QStringLiteral("sub/only.bin")})
                     .isEmpty());
    }
    if (kind.startsWith(QLatin1String("volume"))) {
        packet = m_work->filePath(QStringLiteral("packet.7z.001"));
        if (kind == QLatin1String("volume text")) {
            QVERIFY(writeFile(packet, "this is not an archive at all\n"));
        } else {
            QVERIFY(
                writeFile(m_work->filePath(QStringLiteral("source/large.bin")), noise(50000, 11)));
            QVERIFY(!makePacket(QStringLiteral("packet.7z"), {QStringLiteral("-v20k")}).isEmpty());
            QVERIFY(QFile::remove(packet.left(packet.size() - 1) + kind.at(7)));
        }
    }
    if (kind.startsWith(QLatin1String("flipped"))) {
        QByteArray bytes = readFile(packet);
        bytes[32 + 1000] = char(bytes[32 + 1000] ^ 0x40); // packed data follow the 32-byte start
        QVERIFY(writeFile(packet, bytes));
    } else if (kind == QLatin1String("missing")) {
        packet = m_work->filePath(QStringLiteral("no such packet.7z"));
    }
    const QString parent = m_work->filePath(QStringLiteral("update"));
    const QString target = parent + QStringLiteral("/packet");

    QVERIFY(!uncompress(packet, target));

    QVERIFY2(capturedLog().contains(logged), qPrintable(capturedLog()));
    QCOMPARE(QFileInfo::exists(parent), !parentRemoved);
    for (const QString &entry : listTree(parent))
        QVERIFY2(entry.endsWith(QLatin1Char('/')), qPrintable(entry));
}

void TstExtraction::existingFileReplaced()
{
    makeSourceTree();
    const QString packet = makePacket(QStringLiteral("packet.7z"), {});
    const QString target = m_work->filePath(QStringLiteral("target"));
    QVERIFY(writeFile(target + QStringLiteral("/readme.txt"), QByteArray(200000, 'x')));
    // Read-only, as a file unpacked by an earlier run may be.
    QVERIFY(QFile::setPermissions(target + QStringLiteral("/readme.txt"), QFile::ReadOwner));

    QVERIFY(uncompress(packet, target));
    QCOMPARE(readFile(target + QStringLiteral("/readme.txt")),
             readFile(m_work->filePath(QStringLiteral("source/readme.txt"))));
}

void TstExtraction::fileWhereFolderIsNeeded_data()
{
    QTest::addColumn<QString>("items");
    QTest::addColumn<QString>("logged");

    QTest::newRow("folder of a file item") << "data/noise.bin"
                                           << "Path exists but is not a folder";
    QTest::newRow("folder item") << "data"
                                 << "Could not create folder item";
}

void TstExtraction::fileWhereFolderIsNeeded()
{
    QFETCH(QString, items);
    QFETCH(QString, logged);

    makeSourceTree();
    const QString packet = makePacket(QStringLiteral("packet.7z"), {items});
    const QString target = m_work->filePath(QStringLiteral("target"));
    QVERIFY(writeFile(target + QStringLiteral("/data"), "a file, not a folder"));

    QVERIFY(!uncompress(packet, target));
    QVERIFY2(capturedLog().contains(logged), qPrintable(capturedLog()));
    QCOMPARE(readFile(target + QStringLiteral("/data")), QByteArray("a file, not a folder"));
}

void TstExtraction::chineseNames()
{
    const QString name = QStringLiteral("更新/说明文件.txt");
    QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/") + name), "内容\n"));
    const QString packet = makePacket(QStringLiteral("packet.7z"), {});
    QVERIFY(!packet.isEmpty());
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(uncompress(packet, target), qPrintable(capturedLog()));
    QCOMPARE(listTree(target), QStringList({QStringLiteral("更新/"), name}));
    QCOMPARE(readFile(target + QLatin1Char('/') + name), QByteArray("内容\n"));
}

// Names stored decomposed (e + combining acute accent) keep that form: a
// patch stored under such a name must be found under it.
void TstExtraction::decomposedNames()
{
    const QString folder = QStringLiteral("Cafe\u0301");
    const QString name = folder + QStringLiteral("/Re\u0301sume\u0301.txt");
    QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/") + name), "decomposed\n"));
    const QString packet = makePacket(QStringLiteral("packet.7z"), {});
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(uncompress(packet, target), qPrintable(capturedLog()));
    QCOMPARE(listTree(target), QStringList({folder + QLatin1Char('/'), name}));
    compareWith7zz(packet, target);
}

void TstExtraction::splitArchive()
{
    const QByteArray content = noise(50000, 11);
    QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/large.bin")), content));
    QVERIFY(!makePacket(QStringLiteral("packet.7z"), {QStringLiteral("-v20k")}).isEmpty());
    QCOMPARE(QDir(m_work->path()).entryList({QStringLiteral("packet.7z.*")}),
             QStringList({QStringLiteral("packet.7z.001"), QStringLiteral("packet.7z.002"),
                          QStringLiteral("packet.7z.003")}));
    const QString first = m_work->filePath(QStringLiteral("packet.7z.001"));
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(uncompress(first, target), qPrintable(capturedLog()));
    QCOMPARE(readFile(target + QStringLiteral("/large.bin")), content);
    compareWith7zz(first, target);
}

void TstExtraction::compressedFile_data()
{
    QTest::addColumn<QString>("format");

    QTest::newRow("xz") << "xz";
    QTest::newRow("xz with BCJ") << "xz-bcj";
    QTest::newRow("lzma") << "lzma";
    QTest::newRow("lzma86") << "lzma86";
    QTest::newRow("lzma86 with x86 filter") << "lzma86-x86";
}

// A compressed file that is no archive unpacks as one item named after it.
// 7zz writes xz only, xz writes lzma and raw LZMA streams; an lzma86 file is a
// filter byte before the lzma format's header and stream.
void TstExtraction::compressedFile()
{
    QFETCH(QString, format);

    const QByteArray content = readFile(QCoreApplication::applicationFilePath()).left(70000) +
                               noise(3000, 5) + QByteArray(3000, 'z');
    const QString source = m_work->filePath(QStringLiteral("source/report.bin"));
    QVERIFY(writeFile(source, content));
    const QString suffix = format.section(QLatin1Char('-'), 0, 0);
    const QString packed = m_work->filePath(QStringLiteral("report.bin.") + suffix);
    if (format.startsWith(QLatin1String("xz"))) {
        QStringList options = {QStringLiteral("a"), QStringLiteral("-txz"), QStringLiteral("-bd")};
        if (format == QLatin1String("xz-bcj"))
            options << QStringLiteral("-mf=BCJ");
        QVERIFY(run7zz(options << packed << QStringLiteral("report.bin"),
                       m_work->filePath(QStringLiteral("source"))));
    } else {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty(),
                 "the test needs xz (Debian package xz-utils)");
        const bool x86 = format == QLatin1String("lzma86-x86");
        QProcess xz;
        xz.start(QStringLiteral("xz"),
                 x86 ? QStringList{QStringLiteral("--format=raw"), QStringLiteral("--x86"),
                                   QStringLiteral("--lzma1=preset=6"), QStringLiteral("-c"), source}
                     : QStringList{QStringLiteral("--format=lzma"), QStringLiteral("-c"), source});
        QVERIFY(xz.waitForFinished(60000) && xz.exitCode() == 0);
        QByteArray bytes = xz.readAllStandardOutput();
        if (x86) {
            // The lzma header: properties lc=3 lp=0 pb=2, an 8 MiB dictionary
            // (preset 6), the unpacked size.
            QByteArray header("\x5D\x00\x00\x80\x00", 5);
            for (int i = 0; i < 8; ++i)
                header.append(char((quint64(content.size()) >> (8 * i)) & 0xFF));
            bytes.prepend(header);
        }
        if (suffix == QLatin1String("lzma86"))
            bytes.prepend(x86 ? '\x01' : '\x00');
        QVERIFY(writeFile(packed, bytes));
    }
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(uncompress(packed, target), qPrintable(capturedLog()));
    QCOMPARE(listTree(target), QStringList({QStringLiteral("report.bin")}));
    QCOMPARE(readFile(target + QStringLiteral("/report.bin")), content);
    // Such files store no times; 7zz gives the item the archive's.
    compareWith7zz(packed, target, Modes);
}

// Modes come out as stored, also those a umask would change, and a read-only
// folder still gets its contents.
void TstExtraction::modes()
{
    const QString source = m_work->filePath(QStringLiteral("source"));
    const QList<QPair<QString, QFile::Permissions>> files = {
        {QStringLiteral("read-only.txt"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther},
        {QStringLiteral("everyone-writes.txt"), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ReadGroup | QFile::WriteGroup |
                                                    QFile::ReadOther | QFile::WriteOther},
        {QStringLiteral("everything.sh"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::WriteGroup |
                                              QFile::ExeGroup | QFile::ReadOther |
                                              QFile::WriteOther | QFile::ExeOther},
        {QStringLiteral("locked/inside.txt"), QFile::ReadOwner | QFile::WriteOwner},
        {QStringLiteral("locked"), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                       QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther},
    };
    QVERIFY(writeFile(source + QStringLiteral("/locked/inside.txt"), "inside\n"));
    for (const auto &file : files) {
        if (!file.first.startsWith(QLatin1String("locked")))
            QVERIFY(writeFile(source + QLatin1Char('/') + file.first, file.first.toUtf8()));
        QVERIFY(QFile::setPermissions(source + QLatin1Char('/') + file.first, file.second));
    }
    const QString packet = makePacket(QStringLiteral("packet.7z"), {});
    QVERIFY(!packet.isEmpty());
    const QString target = m_work->filePath(QStringLiteral("target"));

    const bool extracted = uncompress(packet, target);
    for (const auto &file : files) {
        const QString path = target + QLatin1Char('/') + file.first;
        // The owner's bits stand for the user's: compare those.
        QCOMPARE(QFileInfo(path).permissions() & ~QFile::Permissions(0x0F00), file.second);
    }
    QVERIFY2(extracted, qPrintable(capturedLog()));
    QCOMPARE(readFile(target + QStringLiteral("/locked/inside.txt")), QByteArray("inside\n"));
    // 7zz takes the umask off the stored modes.
    compareWith7zz(packet, target, Times);

    // The temporary folders go only when their folders may be changed again.
    for (const QString &root : {source, target, m_work->filePath(QStringLiteral("reference"))})
        QFile::setPermissions(root + QStringLiteral("/locked"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Times keep the 100 ns steps the archive stores, also before 1970.
void TstExtraction::preciseAndEarlyTimes()
{
    const QList<QPair<QString, qint64>> files = {
        {QStringLiteral("precise.txt"), Q_INT64_C(1614834367123456700)},
        {QStringLiteral("early.txt"), Q_INT64_C(-149105571876543200)},
    };
    for (const auto &file : files) {
        const QString path = m_work->filePath(QStringLiteral("source/") + file.first);
        QVERIFY(writeFile(path, file.first.toUtf8()));
        QVERIFY(setModificationTime(path, file.second));
    }
    const QString packet = makePacket(QStringLiteral("packet.7z"), {});
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(uncompress(packet, target), qPrintable(capturedLog()));
    for (const auto &file : files)
        QCOMPARE(modificationTime(target + QLatin1Char('/') + file.first), file.second);
    compareWith7zz(packet, target);
}

// 7zz stores access and creation times only when asked to.
void TstExtraction::storedAccessTime()
{
    const QString file = m_work->filePath(QStringLiteral("source/read.txt"));
    QVERIFY(writeFile(file, "read long ago\n"));
    const QDateTime modified(QDate(2019, 5, 6), QTime(7, 8, 9), Qt::UTC);
    const QDateTime accessed(QDate(2019, 6, 7), QTime(8, 9, 10), Qt::UTC);
    {
        QFile source(file);
        QVERIFY(source.open(QIODevice::ReadWrite));
        QVERIFY(source.setFileTime(modified, QFileDevice::FileModificationTime));
        QVERIFY(source.setFileTime(accessed, QFileDevice::FileAccessTime));
    }
    const QString packet = makePacket(QStringLiteral("packet.7z"),
                                      {QStringLiteral("-mtc=on"), QStringLiteral("-mta=on")});
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY(uncompress(packet, target));
    const QFileInfo extracted(target + QStringLiteral("/read.txt"));
    QCOMPARE(extracted.lastModified().toUTC(), modified);
    QCOMPARE(extracted.lastRead().toUTC(), accessed);
}

void TstExtraction::fullDisk_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("room");
    QTest::addColumn<QString>("reason");

    // Small enough to wait in the file's buffer until it is closed.
    QTest::newRow("at close") << 8000 << 0 << "No space left on device";
    QTest::newRow("while writing") << 300000 << 0 << "No space left on device";
    // The first write goes through in part.
    QTest::newRow("while writing, a little room left")
        << 300000 << 20000 << "No space left on device";
    QTest::newRow("folder on a read-only disk") << 8000 << -1 << "Read-only file system";
}

// A disk that fills up, or cannot be written, fails the item, says why in the
// system's words, and leaves no cut file.
void TstExtraction::fullDisk()
{
    QFETCH(int, size);
    QFETCH(int, room);
    QFETCH(QString, reason);

    QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/data.bin")), noise(size, 9)));
    const QString packet = makePacket(QStringLiteral("packet.7z"), {QStringLiteral("-m0=Copy")});
    QVERIFY(!packet.isEmpty());
    const QString disk = m_work->filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    SmallDisk smallDisk(disk);
    if (!smallDisk.mounted())
        QSKIP("needs root to mount a small tmpfs as a full disk");
    QVERIFY(room < 0 ? smallDisk.makeReadOnly() : smallDisk.fill(room));
    const QString target = disk + QStringLiteral("/target");

    QVERIFY(!uncompress(packet, target));
    QVERIFY2(capturedLog().contains(reason), qPrintable(capturedLog()));
    QVERIFY(!QFileInfo::exists(target + QStringLiteral("/data.bin")));
}

QTEST_GUILESS_MAIN(TstExtraction)
#include "tst_extraction.moc"
