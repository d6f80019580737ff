// The Lib7z facade piece by piece, on archives from the hostile-archive generator.
#include "CPP/Common/MyCom.h"
#include "extractiontestsupport.h"
#include "hostilearchive.h"
#include "logcapture.h"
#include "package/directoryguard.h"
#include "package/lib7z.h"
#include "package/qiodeviceinstream.h"
#include "package/qiodevicesequentialoutstream.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace ExtractionTestSupport;

namespace {

const QFile::Permissions mode0755 =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
    QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

// Records what the extraction tells its callback and can refuse or stop it.
class RecordingCallback : public Lib7z::ExtractCallback
{
public:
    bool approveFile(const QString &path) override
    {
        approved.append(path);
        return !path.endsWith(refusedSuffix);
    }
    void fileStarted(const QString &path) override { started.append(path); }
    HRESULT progressUpdated(quint64 completed, quint64 total) override
    {
        lastCompleted = completed;
        lastTotal = total;
        return stopAtProgress ? E_ABORT : S_OK;
    }

    QString refusedSuffix = QStringLiteral("\n");
    bool stopAtProgress = false;
    QStringList approved;
    QStringList started;
    quint64 lastCompleted = 0;
    quint64 lastTotal = 0;
};

} // namespace

class TstExtractionFacade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void openFailures_data();
    void openFailures();
    void directoryGuardCreatesAndRemovesItsOwnFolder();
    void directoryGuardTexts_data();
    void directoryGuardTexts();
    void inStreamSeek_data();
    void inStreamSeek();
    void outStream();
    void hostileArchive_data();
    void hostileArchive();
    void backslashPathLandsLikeSlashPath();
    void folderPermissions_data();
    void folderPermissions();
    void itemTimes();
    void callbackHooks();
    void callbackVetoAndStop();
    void cachedRecordAndCleaner();
    void secondExtractionFromOneDevice();
    void compressedFile_data();
    void compressedFile();
    void fuzzCrashers_data();
    void fuzzCrashers();

private:
    QString writeArchive(const HostileArchive &archive);
    bool extract(const QString &archive, const QString &target,
                 Lib7z::ExtractCallback *callback = nullptr);

    QScopedPointer<QTemporaryDir> m_work;
    std::unique_ptr<LogCapture> m_log;
};

QString TstExtractionFacade::writeArchive(const HostileArchive &archive)
{
    const QString path = m_work->filePath(QStringLiteral("packet.7z"));
    return archive.write(path) ? path : QString();
}

bool TstExtractionFacade::extract(const QString &archive, const QString &target,
                                  Lib7z::ExtractCallback *callback)
{
    QFile file(archive);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    try {
        return Lib7z::extractToDirectory(&file, target, callback);
    } catch (const Lib7z::SevenZipException &e) {
        qDebug() << "exception" << e.message();
        return false;
    }
}

// Opening needs the registered formats; registering twice does no harm.
void TstExtractionFacade::initTestCase()
{
    QBuffer buffer;
    buffer.setData(HostileArchive().build());
    buffer.open(QIODevice::ReadOnly);
    try {
        Lib7z::openArchiveFor(&buffer);
        QFAIL("opened without registered codecs");
    } catch (const Lib7z::SevenZipException &e) {
        QCOMPARE(e.message(), QStringLiteral("Could not load codecs"));
        QCOMPARE(QString::fromUtf8(e.what()), e.message());
    }
    Lib7z::registerArchiveCodecs();
    Lib7z::registerArchiveCodecs();
    QVERIFY(Lib7z::openArchiveFor(&buffer));
}

void TstExtractionFacade::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    m_log.reset();
    m_log = std::make_unique<LogCapture>();
}

void TstExtractionFacade::openFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("openDevice");
    QTest::addColumn<QString>("message");

    const QByteArray archive = HostileArchive().build();
    QTest::newRow("plain bytes") << QByteArray("just some text\n") << true << "No CArc found";
    QTest::newRow("empty device") << QByteArray() << true << "No CArc found";
    QTest::newRow("closed device") << archive << false << "Could not open archive";
    QTest::newRow("data after the end") << archive + "more" << true << "Could not open archive";
    // Without a file name to suggest the format, a cut archive is no archive.
    QTest::newRow("cut header") << archive.left(archive.size() - 3) << true << "No CArc found";
}

void TstExtractionFacade::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, openDevice);
    QFETCH(QString, message);

    QBuffer buffer;
    buffer.setData(content);
    if (openDevice)
        buffer.open(QIODevice::ReadOnly);
    else
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not open")));
    try {
        Lib7z::openArchiveFor(&buffer);
        QFAIL("opened");
    } catch (const Lib7z::SevenZipException &e) {
        QCOMPARE(e.message(), message);
    }
    QCOMPARE(Lib7z::takeArchiveFor(&buffer), nullptr);
}

void TstExtractionFacade::directoryGuardCreatesAndRemovesItsOwnFolder()
{
    const QString root = m_work->path();
    {
        Lib7z::DirectoryGuard guard(root + QStringLiteral("\\a\\b\\c"));
        QCOMPARE(guard.createMissing(),
                 QStringList({root + QStringLiteral("/a"), root + QStringLiteral("/a/b"),
                              root + QStringLiteral("/a/b/c")}));
        QVERIFY(QFileInfo(root + QStringLiteral("/a/b/c")).isDir());
        Lib7z::DirectoryGuard existing(root + QStringLiteral("/a/b"));
        QCOMPARE(existing.createMissing(), QStringList());
    }
    QCOMPARE(listTree(root), QStringList({QStringLiteral("a/"), QStringLiteral("a/b/")}));

    {
        Lib7z::DirectoryGuard kept(root + QStringLiteral("/a/kept"));
        kept.createMissing();
        kept.keep();
        Lib7z::DirectoryGuard filled(root + QStringLiteral("/a/filled"));
        filled.createMissing();
        QVERIFY(writeFile(root + QStringLiteral("/a/filled/file"), "x"));
    }
    QCOMPARE(listTree(root + QStringLiteral("/a")),
             QStringList({QStringLiteral("b/"), QStringLiteral("filled/"),
                          QStringLiteral("filled/file"), QStringLiteral("kept/")}));
}

void TstExtractionFacade::directoryGuardTexts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");

    QTest::newRow("path is a file") << "file"
                                    << "Path exists but is not a folder: %1";
    QTest::newRow("below a file") << "file/sub/folder"
                                  << "Could not create folder: %1";
}

void TstExtractionFacade::directoryGuardTexts()
{
    QFETCH(QString, path);
    QFETCH(QString, message);

    QVERIFY(writeFile(m_work->filePath(QStringLiteral("file")), "x"));
    const QString guarded = m_work->filePath(path);
    Lib7z::DirectoryGuard guard(guarded);
    try {
        guard.createMissing();
        QFAIL("no exception");
    } catch (const Lib7z::SevenZipException &e) {
        QCOMPARE(e.message(), message.arg(guarded));
    }
}

void TstExtractionFacade::inStreamSeek_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("origin");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<quint64>("position");

    // The library learns an archive's size by seeking to its end.
    QTest::newRow("end reports the size") << qint64(0) << 2 << true << quint64(100);
    QTest::newRow("from the end") << qint64(-10) << 2 << true << quint64(90);
    QTest::newRow("from the beginning") << qint64(40) << 0 << true << quint64(40);
    QTest::newRow("from the current position") << qint64(5) << 1 << true << quint64(35);
    QTest::newRow("past the end") << qint64(500) << 0 << true << quint64(500);
    QTest::newRow("before the start") << qint64(-31) << 1 << false << quint64(0);
    QTest::newRow("unknown origin") << qint64(0) << 3 << false << quint64(0);
}

void TstExtractionFacade::inStreamSeek()
{
    QFETCH(qint64, offset);
    QFETCH(int, origin);
    QFETCH(bool, succeeds);
    QFETCH(quint64, position);

    QBuffer buffer;
    buffer.setData(noise(100, 1));
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(30);
    CMyComPtr<IInStream> stream = new Lib7z::QIODeviceInStream(&buffer);
    UInt64 newPosition = 0;
    QCOMPARE(stream->Seek(offset, origin, &newPosition) == S_OK, succeeds);
    QCOMPARE(newPosition, position);

    // Reads go on from the new position; past the end they give nothing.
    char byte = 0;
    UInt32 processed = 0;
    const quint64 readFrom = succeeds ? position : 30;
    QCOMPARE(stream->Read(&byte, 1, &processed), S_OK);
    QCOMPARE(processed, readFrom < 100 ? 1u : 0u);
    if (processed)
        QCOMPARE(byte, buffer.data().at(int(readFrom)));
}

void TstExtractionFacade::outStream()
{
    auto nowhere = new Lib7z::QIODeviceSequentialOutStream(nullptr);
    CMyComPtr<ISequentialOutStream> nowhereReference = nowhere;
    UInt32 processed = 1;
    QVERIFY(nowhere->Write("x", 1, &processed) != S_OK);
    QCOMPARE(processed, 0u);
    QCOMPARE(nowhere->errorString(), QStringLiteral("No device set for output stream"));

    auto unopenable = new Lib7z::QIODeviceSequentialOutStream(
        new QFile(m_work->filePath(QStringLiteral("missing/file"))));
    CMyComPtr<ISequentialOutStream> unopenableReference = unopenable;
    QVERIFY(unopenable->hasError());

    const QString path = m_work->filePath(QStringLiteral("file"));
    QVERIFY(writeFile(path, "old and longer content"));
    QPointer<QFile> file = new QFile(path);
    {
        auto stream = new Lib7z::QIODeviceSequentialOutStream(file);
        CMyComPtr<ISequentialOutStream> reference = stream;
        QVERIFY(!stream->hasError());
        QCOMPARE(reference->Write("new", 3, &processed), S_OK);
        QCOMPARE(processed, 3u);
    }
    QVERIFY(file.isNull());
    QCOMPARE(readFile(path), QByteArray("new"));
}

void TstExtractionFacade::hostileArchive_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("linkTarget");
    QTest::addColumn<QString>("logged");

    const QString leaves = QStringLiteral("Item path leads out of the target directory:");
    QTest::newRow("parent folder") << "../x"
                                   << "" << leaves;
    QTest::newRow("parent deeper down") << "sub/../../x"
                                        << "" << leaves;
    QTest::newRow("absolute path") << "%outside%/x"
                                   << "" << leaves;
    QTest::newRow("drive letter") << "C:\\x"
                                  << "" << leaves;
    QTest::newRow("file named like the target") << "./."
                                                << ""
                                                << "File item without a name:";
    QTest::newRow("file without a name") << ""
                                         << ""
                                         << "File item without a name:";
    QTest::newRow("link pointing outside")
        << "evil"
        << "../outside"
        << "Creating a link from archive is not implemented for windows. Link filename: ";
}

// A good item comes first, so the archive fails only at the hostile one.
void TstExtractionFacade::hostileArchive()
{
    QFETCH(QString, path);
    QFETCH(QString, linkTarget);
    QFETCH(QString, logged);

    const QString outside = m_work->filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(outside));
    HostileArchive archive;
    archive.addFile(QStringLiteral("good.txt"), "good");
    if (linkTarget.isEmpty())
        archive.addFile(QString(path).replace(QStringLiteral("%outside%"), outside), "bad");
    else
        archive.addSymlink(path, linkTarget);
    const QString target = m_work->filePath(QStringLiteral("target/inner"));

    QVERIFY(!extract(writeArchive(archive), target));

    QVERIFY2(capturedLog().contains(logged), qPrintable(capturedLog()));
    QCOMPARE(listTree(outside), QStringList());
    QCOMPARE(listTree(m_work->filePath(QStringLiteral("target"))),
             QStringList({QStringLiteral("inner/"), QStringLiteral("inner/good.txt")}));
    QVERIFY(!QFileInfo::exists(m_work->filePath(QStringLiteral("x"))));
}

void TstExtractionFacade::backslashPathLandsLikeSlashPath()
{
    for (const QString &path :
         {QStringLiteral("dir\\sub\\file.txt"), QStringLiteral("dir/sub/file.txt")}) {
        HostileArchive archive;
        archive.addFile(path, "content");
        const QString target = m_work->filePath(QString::number(qHash(path)));
        QVERIFY(extract(writeArchive(archive), target));
        QCOMPARE(listTree(target), QStringList({QStringLiteral("dir/"), QStringLiteral("dir/sub/"),
                                                QStringLiteral("dir/sub/file.txt")}));
    }
}

void TstExtractionFacade::folderPermissions_data()
{
    QTest::addColumn<quint32>("mode");
    QTest::addColumn<int>("expected");

    QTest::newRow("0755") << quint32(040755) << int(mode0755);
    QTest::newRow("0750") << quint32(040750)
                          << int(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser |
                                 QFile::ReadGroup | QFile::ExeGroup);
    // Without Unix bits the folder keeps what it was created with.
    QTest::newRow("no Unix mode") << quint32(0) << int(mode0755);
}

void TstExtractionFacade::folderPermissions()
{
    QFETCH(quint32, mode);
    QFETCH(int, expected);

    HostileArchive archive;
    archive.addFolder(QStringLiteral("folder"), mode);
    const QString target = m_work->filePath(QStringLiteral("target"));
    QVERIFY(extract(writeArchive(archive), target));
    QCOMPARE(int(QFileInfo(target + QStringLiteral("/folder")).permissions()), expected);
}

void TstExtractionFacade::itemTimes()
{
    HostileArchive archive;
    archive.addFile(QStringLiteral("timed"), "t");
    archive.addUntimedFile(QStringLiteral("untimed"), "u");
    const QString target = m_work->filePath(QStringLiteral("target"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);

    QVERIFY(extract(writeArchive(archive), target));
    QCOMPARE(QFileInfo(target + QStringLiteral("/timed")).lastModified(),
             HostileArchive::defaultTime().toLocalTime());
    QVERIFY(QFileInfo(target + QStringLiteral("/untimed")).lastModified() >= before);
}

void TstExtractionFacade::callbackHooks()
{
    HostileArchive archive;
    archive.addFolder(QStringLiteral("a"));
    archive.addFile(QStringLiteral("a/b/c.txt"), "c");
    const QString target = m_work->filePath(QStringLiteral("target"));
    RecordingCallback callback;

    QVERIFY(extract(writeArchive(archive), target, &callback));
    QCOMPARE(callback.approved, QStringList({target + QStringLiteral("/a/b/c.txt")}));
    QCOMPARE(callback.started,
             QStringList({target, target + QStringLiteral("/a"), target + QStringLiteral("/a/b"),
                          target + QStringLiteral("/a/b/c.txt")}));
    // The library counts unpacked bytes.
    QCOMPARE(callback.lastTotal, quint64(1));
    QCOMPARE(callback.lastCompleted, quint64(1));
}

void TstExtractionFacade::callbackVetoAndStop()
{
    HostileArchive archive;
    archive.addFile(QStringLiteral("first.txt"), "1");
    archive.addFile(QStringLiteral("second.txt"), "2");
    const QString packet = writeArchive(archive);

    RecordingCallback veto;
    veto.refusedSuffix = QStringLiteral("second.txt");
    const QString vetoed = m_work->filePath(QStringLiteral("vetoed"));
    QVERIFY(!extract(packet, vetoed, &veto));
    QCOMPARE(listTree(vetoed), QStringList({QStringLiteral("first.txt")}));

    RecordingCallback stop;
    stop.stopAtProgress = true;
    const QString stopped = m_work->filePath(QStringLiteral("stopped"));
    QVERIFY(!extract(packet, stopped, &stop));
    QCOMPARE(listTree(stopped), QStringList());
}

void TstExtractionFacade::cachedRecordAndCleaner()
{
    HostileArchive archive;
    archive.addFile(QStringLiteral("file"), "content");
    auto buffer = new QBuffer;
    buffer->setData(archive.build());
    buffer->open(QIODevice::ReadOnly);

    Lib7z::OpenArchiveInfo *record = Lib7z::openArchiveFor(buffer);
    QVERIFY(record);
    QCOMPARE(Lib7z::openArchiveFor(buffer), record);
    QCOMPARE(Lib7z::takeArchiveFor(buffer), record);
    QCOMPARE(Lib7z::takeArchiveFor(buffer), nullptr);
    delete record;

    QVERIFY(Lib7z::openArchiveFor(buffer));
    const void *key = buffer;
    delete buffer;
    QCOMPARE(Lib7z::takeArchiveFor(static_cast<QIODevice *>(const_cast<void *>(key))), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TstExtractionFacade::secondExtractionFromOneDevice()
{
    HostileArchive archive;
    archive.addFile(QStringLiteral("file"), "content");
    QFile file(writeArchive(archive));
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QString &name : {QStringLiteral("first"), QStringLiteral("second")}) {
        const QString target = m_work->filePath(name);
        QVERIFY(Lib7z::extractToDirectory(&file, target));
        QCOMPARE(readFile(target + QStringLiteral("/file")), QByteArray("content"));
    }
}

void TstExtractionFacade::compressedFile_data()
{
    QTest::addColumn<QString>("suffix");

    QTest::newRow("xz") << "xz";
    QTest::newRow("lzma") << "lzma";
}

// A compressed file that is no archive unpacks as one item named after it.
void TstExtractionFacade::compressedFile()
{
    QFETCH(QString, suffix);

    const QByteArray content = noise(3000, 5) + QByteArray(3000, 'z');
    const QString source = m_work->filePath(QStringLiteral("source"));
    QVERIFY(writeFile(source + QStringLiteral("/report.txt"), content));
    const QString packed = m_work->filePath(QStringLiteral("report.txt.") + suffix);
    if (suffix == QLatin1String("xz")) {
        QVERIFY(run7zz({QStringLiteral("a"), QStringLiteral("-txz"), QStringLiteral("-bd"), packed,
                        QStringLiteral("report.txt")},
                       source));
    } else {
        // 7zz cannot write the lzma format.
        if (QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty())
            QSKIP("needs xz to write an lzma file");
        QProcess xz;
        xz.setStandardOutputFile(packed);
        xz.start(QStringLiteral("xz"), {QStringLiteral("--format=lzma"), QStringLiteral("-c"),
                                        source + QStringLiteral("/report.txt")});
        QVERIFY(xz.waitForFinished() && xz.exitCode() == 0);
    }
    const QString target = m_work->filePath(QStringLiteral("target"));

    QVERIFY2(extract(packed, target), qPrintable(capturedLog()));
    QCOMPARE(listTree(target), QStringList({QStringLiteral("report.txt")}));
    QCOMPARE(readFile(target + QStringLiteral("/report.txt")), content);
}

void TstExtractionFacade::fuzzCrashers_data()
{
    QTest::addColumn<QString>("file");

    const QDir crashers(
        QStringLiteral(VELMORA_SOURCE_DIR "/tests/updater/package/fuzz-crashers/fuzz_extraction"));
    const QFileInfoList files = crashers.entryInfoList(QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QFileInfo &file : files)
        QTest::newRow(qPrintable(file.fileName())) << file.filePath();
}

// Every input that once crashed the fuzz target, replayed as the target runs
// it: whatever the outcome, nothing lands outside the target folder.
void TstExtractionFacade::fuzzCrashers()
{
    QFETCH(QString, file);

    {
        QBuffer packet;
        packet.setData(readFile(file));
        packet.open(QIODevice::ReadOnly);
        try {
            Lib7z::extractToDirectory(&packet, m_work->filePath(QStringLiteral("target/inner")));
        } catch (const Lib7z::SevenZipException &e) {
            qDebug() << "exception" << e.message();
        }
    }
    for (const QString &entry : listTree(m_work->path()))
        QVERIFY2(entry == QLatin1String("target/") ||
                     entry.startsWith(QLatin1String("target/inner")),
                 qPrintable(entry));
}

QTEST_GUILESS_MAIN(TstExtractionFacade)
#include "tst_extractionfacade.moc"
