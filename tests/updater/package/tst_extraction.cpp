// Unpacking packets made by the system's 7zz with the Uncompress worker.
#include "extractiontestsupport.h"
#include "uncompress.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    void splitArchive();
    void storedAccessTime();

private:
    // Unpacks into target and checks that exactly one signal came.
    bool uncompress(const QString &packet, const QString &target);
    QString makeSourceTree();
    QString makePacket(const QString &name, const QStringList &options);

    QScopedPointer<QTemporaryDir> m_work;
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
    startLogCapture();
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

void TstExtraction::everyCoder_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("method");

    const QString lzma2 = QStringLiteral("-m1=LZMA2");
    const QList<QPair<QStringList, QString>> coders = {
        {{QStringLiteral("-m0=Copy")}, QStringLiteral("Copy")},
        {{QStringLiteral("-m0=LZMA")}, QStringLiteral("LZMA:")},
        {{QStringLiteral("-m0=LZMA2")}, QStringLiteral("LZMA2")},
        {{QStringLiteral("-m0=BCJ"), lzma2}, QStringLiteral("BCJ")},
        {{QStringLiteral("-m0=BCJ2"), lzma2, QStringLiteral("-m2=LZMA"), QStringLiteral("-m3=LZMA"),
          QStringLiteral("-mb0s0:1"), QStringLiteral("-mb0s1:2"), QStringLiteral("-mb0s2:3")},
         QStringLiteral("BCJ2")},
        {{QStringLiteral("-m0=PPC"), lzma2}, QStringLiteral("PPC")},
        {{QStringLiteral("-m0=IA64"), lzma2}, QStringLiteral("IA64")},
        {{QStringLiteral("-m0=ARM"), lzma2}, QStringLiteral("ARM")},
        {{QStringLiteral("-m0=ARMT"), lzma2}, QStringLiteral("ARMT")},
        {{QStringLiteral("-m0=SPARC"), lzma2}, QStringLiteral("SPARC")},
        {{QStringLiteral("-m0=Delta:4"), lzma2}, QStringLiteral("Delta")},
        {{QStringLiteral("-m0=PPMd")}, QStringLiteral("PPMD")},
        {{QStringLiteral("-m0=BZip2")}, QStringLiteral("BZip2")},
        {{QStringLiteral("-m0=Deflate")}, QStringLiteral("Deflate")},
    };
    for (const auto &coder : coders) {
        for (const bool solid : {true, false}) {
            const QString row = coder.first.first().mid(4) +
                                (solid ? QStringLiteral(" solid") : QStringLiteral(" non-solid"));
            QTest::newRow(qPrintable(row))
                << coder.first +
                       QStringList{QStringLiteral("-mf=off"),
                                   solid ? QStringLiteral("-ms=on") : QStringLiteral("-ms=off")}
                << coder.second;
        }
    }
}

void TstExtraction::everyCoder()
{
    QFETCH(QStringList, options);
    QFETCH(QString, method);

    const QString source = makeSourceTree();
    const QString packet = makePacket(QStringLiteral("packet.7z"), options);
    QVERIFY(!packet.isEmpty());
    QVERIFY2(archiveMethods(packet).contains(method), qPrintable(archiveMethods(packet)));
    const QString target = m_work->filePath(QStringLiteral("update/packet"));

    QVERIFY2(uncompress(packet, target), qPrintable(capturedLog()));

    const QStringList entries = listTree(source);
    QCOMPARE(listTree(target), entries);
    for (const QString &entry : entries) {
        const QFileInfo original(source + QLatin1Char('/') + entry);
        const QFileInfo extracted(target + QLatin1Char('/') + entry);
        QCOMPARE(extracted.isDir(), original.isDir());
        if (original.isDir())
            continue;
        QVERIFY2(readFile(extracted.filePath()) == readFile(original.filePath()),
                 qPrintable(entry));
        QCOMPARE(extracted.lastModified(), original.lastModified());
        QCOMPARE(extracted.permissions(), original.permissions());
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
    QTest::newRow("Swap4 coder") << "swap4" << false << "codec ID: 20304";
    QTest::newRow("flipped Copy byte") << "flipped" << false << "7-Zip bad CRC";
    QTest::newRow("flipped LZMA byte") << "flipped lzma" << false << "Damaged item";
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
    } else if (kind == QLatin1String("swap4") || kind.startsWith(QLatin1String("flipped"))) {
        // One file, so that nothing is written before the item that fails.
        QDir(m_work->filePath(QStringLiteral("source"))).removeRecursively();
        QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/sub/only.bin")), noise(5000, 3)));
        const QString coder = kind == QLatin1String("swap4")     ? QStringLiteral("-m0=Swap4")
                              : kind == QLatin1String("flipped") ? QStringLiteral("-m0=Copy")
                                                                 : QStringLiteral("-m0=LZMA");
        QVERIFY(!makePacket(QStringLiteral("packet.7z"),
                            {coder, QStringLiteral("-mf=off"), QStringLiteral("sub/only.bin")})
                     .isEmpty());
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

void TstExtraction::splitArchive()
{
    const QByteArray content = noise(50000, 11);
    QVERIFY(writeFile(m_work->filePath(QStringLiteral("source/large.bin")), content));
    QVERIFY(!makePacket(QStringLiteral("packet.7z"), {QStringLiteral("-v20k")}).isEmpty());
    QCOMPARE(QDir(m_work->path()).entryList({QStringLiteral("packet.7z.*")}),
             QStringList({QStringLiteral("packet.7z.001"), QStringLiteral("packet.7z.002"),
                          QStringLiteral("packet.7z.003")}));
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(uncompress(m_work->filePath(QStringLiteral("packet.7z.001")), target),
             qPrintable(capturedLog()));
    QCOMPARE(readFile(target + QStringLiteral("/large.bin")), content);
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

QTEST_GUILESS_MAIN(TstExtraction)
#include "tst_extraction.moc"
