// The coordinator against the in-process test server and a real nginx: the
// range table the server sees, summed progress, the size query with its
// redirects and error texts, refusals, reuse, byte-exact files and calls
// from a second thread.
#include "download/downloadcontrol.h"
#include "download/downloadthread.h"
#include "download/resumerecord.h"
#include "logcapture.h"
#include "nginxserver.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QVector>
#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const int shortTimeout = 300; // ms without data before a request fails

QByteArray pattern(qint64 size)
{
    QVector<quint32> words(int(size / 4 + 1));
    QRandomGenerator{quint32(size)}.fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), int(size));
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result().toHex();
}

// The Range headers of the GET requests the server saw, sorted.
QStringList rangesSeen(const TestHttpServer &server, const QString &path)
{
    QStringList ranges;
    for (const auto &request : server.requests(path)) {
        if (request.method == "GET")
            ranges.append(QString::fromLatin1(request.header("Range")));
    }
    ranges.sort();
    return ranges;
}

// Watches one coordinator's signals and waits for its outcome.
struct Outcome
{
    explicit Outcome(DownloadControl *control)
        : finished(control, SIGNAL(finished(int))), error(control, SIGNAL(error(QString, bool))),
          sizeError(control, SIGNAL(getFileSizeErrorSignal(QString))),
          progress(control, SIGNAL(progressChange(int, qint64, qint64, qint64)))
    {}
    bool wait()
    {
        return QTest::qWaitFor(
            [this] { return !finished.isEmpty() || !error.isEmpty() || !sizeError.isEmpty(); },
            15000);
    }
    QSignalSpy finished, error, sizeError, progress;
};

// Lets this process write files only up to a size, as a full disk would: a
// write past it fails with EFBIG (the signal that would end the process is
// ignored). The limit goes with the object.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous); }

private:
    Q_DISABLE_COPY(FileSizeLimit)
    rlimit previous{};
};

} // namespace

class TestDownloadControl : public QObject
{
    Q_OBJECT

public:
    enum Misbehaviour
    {
        TrickleBelowLimit,
        SlowAboveLimit,
        RangeIgnored,
        ChunkedComplete,
        ChunkedCutShort,
        WriteFails,
        BusyThenServed,
        NginxConnectionLimit,
    };
    Q_ENUM(Misbehaviour)

private:
    QTemporaryDir fixtures;
    QTemporaryDir targets;
    std::unique_ptr<NginxServer> nginx;
    int targetNumber = 0;

    QString newTarget() { return targets.filePath(QString::number(++targetNumber)); }

private slots:
    void initTestCase()
    {
        QVERIFY(fixtures.isValid() && targets.isValid());
        for (qint64 size : {0, 1, 5, 1024 * 1024 + 3, 64 * 1024 * 1024}) {
            QFile file(fixtures.filePath(QString::number(size)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(pattern(size)), size);
        }
        QFile json(fixtures.filePath(QStringLiteral("update.json")));
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(QByteArray("{\"md5\": \"0123456789abcdef0123456789abcdef\"},\n").repeated(3000));
        json.close();
        nginx = std::make_unique<NginxServer>(fixtures.path());
        // As many servers are set up: JSON compressed for whoever accepts it.
        nginx->setExtraServerConfig("gzip on; gzip_types application/json; gzip_min_length 1;"
                                    "types { application/json json; }");
        QVERIFY2(nginx->start(), qPrintable(nginx->errorString()));
    }

    void cleanupTestCase() { nginx.reset(); }

    void rangeTable_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("headContentLength");
        QTest::addColumn<int>("threadCount");
        QTest::addColumn<QStringList>("ranges");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("lastProgress");
        QTest::addColumn<QByteArray>("content");

        const QByteArray thousand = pattern(1000);
        QTest::newRow("1000 in 6")
            << thousand << true << 6
            << QStringList{"bytes=0-166",   "bytes=166-333", "bytes=333-500",
                           "bytes=500-666", "bytes=666-833", "bytes=833-1000"}
            << qint64(1000) << qint64(1005) << thousand;
        // An empty file is finished without a single range request, which a
        // strict server would refuse with 416.
        QTest::newRow("empty file")
            << QByteArray() << true << 6 << QStringList() << qint64(0) << qint64(0) << QByteArray();
        // Without a length the size is 0 as well: the file stays empty, which
        // the packet's MD5 check catches.
        QTest::newRow("no Content-Length") << QByteArray("hello") << false << 6 << QStringList()
                                           << qint64(0) << qint64(0) << QByteArray();
        QTest::newRow("2 in 5") << QByteArray("ab") << true << 5
                                << QStringList{"bytes=0-0", "bytes=0-0", "bytes=0-1", "bytes=1-1",
                                               "bytes=1-2"}
                                << qint64(2) << qint64(6) << QByteArray("ab");
        QTest::newRow("one range") << thousand << true << 1 << QStringList{"bytes=0-1000"}
                                   << qint64(1000) << qint64(1000) << thousand;
    }

    void rangeTable()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, headContentLength);
        QFETCH(int, threadCount);
        QFETCH(QStringList, ranges);
        QFETCH(qint64, total);
        QFETCH(qint64, lastProgress);
        QFETCH(QByteArray, content);

        TestHttpServer server;
        TestHttpServer::Route route;
        route.body = body;
        route.headContentLength = headContentLength;
        server.setRoute(QStringLiteral("/f"), route);
        DownloadControl control;
        Outcome outcome(&control);
        const QString target = newTarget();
        QVERIFY(
            control.downloadFile(server.url(QStringLiteral("/f")).toString(), target, threadCount));
        QVERIFY(outcome.wait());
        QCOMPARE(outcome.finished.size(), 1);
        QCOMPARE(outcome.finished.first().first().toInt(), 0);
        QVERIFY(outcome.error.isEmpty());
        QCOMPARE(rangesSeen(server, QStringLiteral("/f")), ranges);
        const QList<QVariant> last = outcome.progress.last();
        QCOMPARE(last.at(0).toInt(), 0);
        QCOMPARE(last.at(1).toLongLong(), qint64(0));
        QCOMPARE(last.at(2).toLongLong(), total);
        QCOMPARE(last.at(3).toLongLong(), lastProgress);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QVERIFY(!control.errorReported);
    }

    void byteExact_data()
    {
        QTest::addColumn<bool>("useNginx");
        QTest::addColumn<QString>("name");
        for (bool useNginx : {false, true}) {
            for (const char *name : {"0", "1", "5", "1048579", "67108864", "update.json"}) {
                QTest::addRow("%s %s", useNginx ? "nginx (gzip for JSON)" : "test server", name)
                    << useNginx << QString::fromLatin1(name);
            }
        }
    }

    void byteExact()
    {
        QFETCH(bool, useNginx);
        QFETCH(QString, name);
        TestHttpServer server;
        server.serveFile(QLatin1Char('/') + name, fixtures.filePath(name));
        const QUrl url =
            useNginx ? nginx->url(QLatin1Char('/') + name) : server.url(QLatin1Char('/') + name);

        DownloadControl control;
        Outcome outcome(&control);
        const QString target = newTarget();
        QVERIFY(control.downloadFile(url.toString(), target, 6));
        QVERIFY(outcome.wait());
        QCOMPARE(outcome.finished.size(), 1);
        QCOMPARE(QFileInfo(target).size(), QFileInfo(fixtures.filePath(name)).size());
        QCOMPARE(fileHash(target), fileHash(fixtures.filePath(name)));
        QVERIFY(!QFile::exists(ResumeRecord::recordPath(target)));
    }

    void reuseAfterSuccess()
    {
        TestHttpServer server;
        server.serve(QStringLiteral("/a"), "first file");
        server.serve(QStringLiteral("/b"), "the second file");
        DownloadControl control;
        Outcome outcome(&control);
        const QString first = newTarget();
        QVERIFY(control.downloadFile(server.url(QStringLiteral("/a")).toString(), first, 6));
        QVERIFY(outcome.wait());
        const QString second = newTarget();
        QVERIFY(control.downloadFile(server.url(QStringLiteral("/b")).toString(), second, 6));
        QTRY_COMPARE(outcome.finished.size(), 2);
        QFile file(second);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("the second file"));
    }

    void refusedWhileRunning()
    {
        TestHttpServer server;
        TestHttpServer::Route stalled;
        stalled.body = pattern(100);
        stalled.stallAfter = 0;
        server.setRoute(QStringLiteral("/slow"), stalled);
        DownloadControl control;
        control.setTransferTimeout(60000);
        Outcome outcome(&control);
        QVERIFY(
            control.downloadFile(server.url(QStringLiteral("/slow")).toString(), newTarget(), 6));
        const int requests = server.requests().size();
        QVERIFY(
            !control.downloadFile(server.url(QStringLiteral("/slow")).toString(), newTarget(), 6));
        QCOMPARE(server.requests().size(), requests);
        QVERIFY(outcome.finished.isEmpty() && outcome.error.isEmpty());
    }

    void twoFailingWorkersGiveOneError()
    {
        TestHttpServer server;
        TestHttpServer::Route dropped;
        dropped.body = pattern(600);
        dropped.dropAfter = 0; // every range's connection ends after its headers
        server.setRoute(QStringLiteral("/drop"), dropped);
        DownloadControl control;
        Outcome outcome(&control);
        QVERIFY(
            control.downloadFile(server.url(QStringLiteral("/drop")).toString(), newTarget(), 2));
        QVERIFY(outcome.wait());
        QTest::qWait(200); // room for the second worker's report
        QCOMPARE(outcome.error.size(), 1);
        QCOMPARE(outcome.error.first().at(0).toString(),
                 QStringLiteral("The connection has been broken,please login and download again"));
        QCOMPARE(outcome.error.first().at(1).toBool(), false);
        QVERIFY(outcome.finished.isEmpty());
        QVERIFY(control.errorReported);

        // A failed coordinator refuses the next download.
        server.serve(QStringLiteral("/ok"), "ok");
        server.clearRequests();
        QVERIFY(
            !control.downloadFile(server.url(QStringLiteral("/ok")).toString(), newTarget(), 6));
        QVERIFY(server.requests().isEmpty());
    }

    void sizeQueryErrors_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QString badSize =
            QStringLiteral("The download file size is invalid,please check the download url");
        const QString refusedRedirect = DownloadThread::refusedRedirectText();
        QTest::newRow("connection refused") << "refused"
                                            << "Connection refused";
        QTest::newRow("host not found") << "unknown host"
                                        << "The server is not found,please check the network";
        QTest::newRow("404") << "404"
                             << "The download file  is not found,please check the download url";
        QTest::newRow("stall") << "stall"
                               << "The connection timeout,please check the download url";
        // Asked again with back-off before the size query gives up.
        QTest::newRow("503 through every retry") << "busy" << DownloadThread::busyText();
        QTest::newRow("eleven redirects") << "redirects 11" << DownloadThread::hijackMessage();
        // -1 once passed for the failure value, other negative sizes made
        // malformed ranges, and huge ones overflowed the range arithmetic.
        QTest::newRow("Content-Length -1") << "length -1" << badSize;
        QTest::newRow("Content-Length -7") << "length -7" << badSize;
        QTest::newRow("Content-Length 2^62 + 1") << "length 4611686018427387905" << badSize;
        QTest::newRow("Content-Length past 2^63") << "length 99999999999999999999" << badSize;
        QTest::newRow("Content-Length not a number") << "length 12abc" << badSize;
        // A redirect without a target is a broken answer, not a redirect to
        // the same address; one that leaves http is never followed.
        QTest::newRow("302 without Location") << "location" << refusedRedirect;
        QTest::newRow("302 with empty Location") << "location " << refusedRedirect;
        QTest::newRow("302 to a local file") << "location file:///etc/hostname" << refusedRedirect;
        QTest::newRow("302 to https") << "location https://127.0.0.1:9/f" << refusedRedirect;
    }

    void sizeQueryErrors()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        TestHttpServer server;
        QString url = server.url(QStringLiteral("/f")).toString();
        TestHttpServer::Route route;
        if (kind == "refused") {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            url = QStringLiteral("http://127.0.0.1:%1/f").arg(closed.serverPort());
            closed.close();
        } else if (kind == "unknown host") {
            url = QStringLiteral("http://download.velmora.invalid/f");
        } else if (kind == "404") {
            server.respond(QStringLiteral("/f"), 404, "missing");
        } else if (kind == "stall") {
            route.stall = true;
            server.setRoute(QStringLiteral("/f"), route);
        } else if (kind == "busy") {
            route.status = 503;
            route.headers = {{"Retry-After", "0"}};
            server.setRoute(QStringLiteral("/f"), route);
        } else if (kind.startsWith("length ")) {
            route.body = "body";
            route.headContentLength = false;
            route.headers = {{"Content-Length", kind.mid(7).toLatin1()}};
            server.setRoute(QStringLiteral("/f"), route);
        } else if (kind.startsWith("location")) {
            route.status = 302;
            if (kind == "location ")
                route.headers = {{"Location", ""}};
            else
                route.location = kind.mid(9).toUtf8();
            server.setRoute(QStringLiteral("/f"), route);
        } else {
            server.serve(QStringLiteral("/end"), "end");
            server.redirectChain(QStringLiteral("/f"), 11, QStringLiteral("/end"));
        }
        DownloadControl control;
        control.setTransferTimeout(shortTimeout);
        Outcome outcome(&control);
        const QString target = newTarget();
        const bool hijack = kind.startsWith("redirects");
        // The hijack is reported as a failed download, with the log upload,
        // as when the ranges meet it.
        QCOMPARE(control.downloadFile(url, target, 6), hijack);
        QCOMPARE(hijack ? outcome.error.size() : outcome.sizeError.size(), 1);
        const QList<QVariant> report = hijack ? outcome.error.first() : outcome.sizeError.first();
        QCOMPARE(report.first().toString(), text);
        if (hijack) {
            QCOMPARE(report.at(1).toBool(), true);
            QVERIFY(outcome.sizeError.isEmpty());
            QVERIFY(control.errorReported);
        }
        QVERIFY(!QFile::exists(target));
        QVERIFY(rangesSeen(server, QStringLiteral("/f")).isEmpty());
        if (kind == "busy")
            QCOMPARE(server.requests().size(), 1 + DownloadThread::busyRetries);
        // Whatever ended the size query, nothing follows it.
        QTest::qWait(shortTimeout);
        QCOMPARE(outcome.finished.size() + outcome.error.size() + outcome.sizeError.size(), 1);
    }

    // The largest size accepted is split exactly, without overflowing.
    void largestSizeSplitsExactly()
    {
        TestHttpServer server;
        TestHttpServer::Route route;
        route.headContentLength = false;
        route.headers = {{"Content-Length", "4611686018427387904"}};
        // No range is answered, so none can end the download before all six
        // have been asked for.
        route.stallRanges = true;
        server.setRoute(QStringLiteral("/f"), route);
        DownloadControl control;
        control.setTransferTimeout(60000);
        // Not a 4 EiB sparse file in the temporary folder.
        QVERIFY(control.downloadFile(server.url(QStringLiteral("/f")).toString(),
                                     QStringLiteral("/dev/null"), 6));
        QTRY_COMPARE_WITH_TIMEOUT(rangesSeen(server, QStringLiteral("/f")),
                                  (QStringList{"bytes=0-768614336404564650",
                                               "bytes=1537228672809129301-2305843009213693952",
                                               "bytes=2305843009213693952-3074457345618258602",
                                               "bytes=3074457345618258602-3843071682022823253",
                                               "bytes=3843071682022823253-4611686018427387904",
                                               "bytes=768614336404564650-1537228672809129301"}),
                                  10000);
    }

    void sizeQueryRedirects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("relative");
        QTest::newRow("301") << 301 << 1 << false;
        QTest::newRow("302 relative") << 302 << 1 << true;
        QTest::newRow("ten 302") << 302 << 10 << false;
        QTest::newRow("eleven relative 301") << 301 << 11 << true;
    }

    // HEAD and every range follow 301 and 302, a relative Location resolved
    // against the URL that sent it; the file is the redirect target's.
    void sizeQueryRedirects()
    {
        QFETCH(int, status);
        QFETCH(int, count);
        QFETCH(bool, relative);
        TestHttpServer server;
        const QByteArray body = pattern(3000);
        server.serve(QStringLiteral("/dir/end"), body);
        server.redirectChain(QStringLiteral("/r"), count, QStringLiteral("/dir/end"), status,
                             relative);
        DownloadControl control;
        Outcome outcome(&control);
        const QString target = newTarget();
        QVERIFY(control.downloadFile(server.url(QStringLiteral("/r")).toString(), target, 3));
        QVERIFY(outcome.wait());
        if (count > DownloadThread::redirectLimit) {
            QCOMPARE(outcome.error.size(), 1);
            QCOMPARE(outcome.error.first().at(0).toString(), DownloadThread::hijackMessage());
            QCOMPARE(outcome.error.first().at(1).toBool(), true);
            QVERIFY(rangesSeen(server, QStringLiteral("/dir/end")).isEmpty());
            return;
        }
        QCOMPARE(outcome.finished.size(), 1);
        QCOMPARE(rangesSeen(server, QStringLiteral("/dir/end")),
                 (QStringList{"bytes=0-1000", "bytes=1000-2000", "bytes=2000-3000"}));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);
    }

    // Servers that misbehave while the ranges run. Every download ends, with
    // its file finished or one error, asks for nothing more afterwards, and
    // never leaves more than the announced size on disk.
    void misbehavingServer_data()
    {
        QTest::addColumn<Misbehaviour>("misbehaviour");
        QTest::addColumn<int>("threadCount");
        QTest::addColumn<QString>("text"); // empty: the download finishes
        QTest::addColumn<int>("droppedLines");
        struct Row
        {
            const char *tag;
            Misbehaviour misbehaviour;
            int threadCount;
            QString text;
            int droppedLines; // "drops the bytes past the end" lines in the log
        };
        const QString timeout =
            QStringLiteral("The connection timeout,please check the download url");
        const QList<Row> rows{
            {"trickle below the speed limit", TrickleBelowLimit, 6, timeout, 0},
            {"slow but above the speed limit", SlowAboveLimit, 6, QString(), 0},
            // The first whole answer is the file; the other ranges stop.
            {"Range ignored", RangeIgnored, 6, QString(), 0},
            {"chunked reply complete", ChunkedComplete, 1, QString(), 0},
            {"chunked reply cut short", ChunkedCutShort, 1,
             QStringLiteral("The connection has been broken,please login and download again"), 0},
            {"write fails (file size limit, as on a full disk), then a clean next run", WriteFails,
             6, QStringLiteral("File too large"), 0},
            {"503 and 429 with and without Retry-After, then served", BusyThenServed, 6, QString(),
             0},
            {"nginx limiting connections to 4 answers 503", NginxConnectionLimit, 6, QString(), 0},
        };
        for (const Row &row : rows)
            QTest::newRow(row.tag)
                << row.misbehaviour << row.threadCount << row.text << row.droppedLines;
    }

    void misbehavingServer()
    {
        QFETCH(Misbehaviour, misbehaviour);
        QFETCH(int, threadCount);
        QFETCH(QString, text);
        QFETCH(int, droppedLines);
        const int speedWindow = 300;
        TestHttpServer server;
        TestHttpServer::Route route;
        route.body = pattern(6000);
        qint64 announcedSize = route.body.size();
        std::unique_ptr<FileSizeLimit> limit;
        switch (misbehaviour) {
        case TrickleBelowLimit:
            route.trickleBytes = 1;
            route.trickleIntervalMs = 20;
            break;
        case SlowAboveLimit:
            route.trickleBytes = 50;
            route.trickleIntervalMs = 20;
            break;
        case RangeIgnored:
            route.honourRange = false;
            break;
        case ChunkedComplete:
        case ChunkedCutShort:
            // The part as the server's own chunks: only Content-Range tells its length.
            route.status = 206;
            route.body = "10\r\n0123456789abcdef\r\n10\r\n0123456789abcdef\r\n0\r\n\r\n";
            route.headers = {{"Transfer-Encoding", "chunked"}, {"Content-Range", "bytes 0-31/32"}};
            route.headLength = 32;
            announcedSize = 32;
            if (misbehaviour == ChunkedCutShort)
                route.dropAfter = 30; // inside the second chunk
            break;
        case WriteFails:
            route.body = pattern(256 * 1024);
            announcedSize = route.body.size();
            limit = std::make_unique<FileSizeLimit>(64 * 1024);
            break;
        case BusyThenServed:
            route.busyAnswers = 3;
            route.headers = {{"Retry-After", "0"}};
            break;
        case NginxConnectionLimit:
            route.body = pattern(1024 * 1024 + 3); // the fixture nginx serves
            announcedSize = route.body.size();
            break;
        }
        server.setRoute(QStringLiteral("/f"), route);
        QString url = server.url(QStringLiteral("/f")).toString();
        // Four connections at a time, each slowed so that the six overlap.
        NginxServer limitedNginx(fixtures.path());
        if (misbehaviour == NginxConnectionLimit) {
            limitedNginx.setExtraHttpConfig(
                "limit_conn_zone $binary_remote_addr zone=peraddress:1m;");
            limitedNginx.setExtraServerConfig("limit_conn peraddress 4; limit_rate 128k;");
            QVERIFY2(limitedNginx.start(), qPrintable(limitedNginx.errorString()));
            url = limitedNginx.url(QStringLiteral("/1048579")).toString();
        }
        DownloadControl control;
        // nginx sends a slowed answer in bursts, with pauses longer than the window.
        if (misbehaviour != NginxConnectionLimit)
            control.setLowSpeedLimit(256, speedWindow);
        control.setRetryDelays(50, 200);
        Outcome outcome(&control);
        LogCapture log;
        const QString target = newTarget();
        QVERIFY(control.downloadFile(url, target, threadCount));
        QVERIFY(outcome.wait());
        limit.reset();

        const int requests = server.requests().size();
        QTest::qWait(2 * speedWindow);
        QCOMPARE(server.requests().size(), requests);
        QCOMPARE(outcome.finished.size() + outcome.error.size(), 1);
        if (text.isEmpty()) {
            QCOMPARE(outcome.finished.size(), 1);
        } else {
            QCOMPARE(outcome.error.size(), 1);
            QCOMPARE(outcome.error.first().at(0).toString(), text);
            QCOMPARE(outcome.error.first().at(1).toBool(), false);
        }
        QCOMPARE(log.lines().filter(QStringLiteral("drops the bytes past the end")).size(),
                 droppedLines);

        if (misbehaviour == WriteFails) {
            // The partial file would hold the space the next run needs.
            QVERIFY(!QFile::exists(target));
            QVERIFY(!QFile::exists(ResumeRecord::recordPath(target)));
            DownloadControl nextRun;
            Outcome next(&nextRun);
            QVERIFY(nextRun.downloadFile(url, target, threadCount));
            QVERIFY(next.wait());
            QCOMPARE(next.finished.size(), 1);
        }
        if (misbehaviour == BusyThenServed || misbehaviour == NginxConnectionLimit)
            QVERIFY(!log.lines().filter(QStringLiteral("server busy")).isEmpty());

        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        switch (misbehaviour) {
        case SlowAboveLimit:
        case RangeIgnored:
        case WriteFails:
        case BusyThenServed:
        case NginxConnectionLimit:
            QCOMPARE(content, route.body);
            break;
        case ChunkedComplete:
            QCOMPARE(content, QByteArray("0123456789abcdef0123456789abcdef"));
            break;
        default:
            QCOMPARE(content.size(), announcedSize);
            break;
        }
    }

    void resumeAcrossRuns_data()
    {
        QTest::addColumn<QByteArray>("etagThen");
        QTest::addColumn<bool>("resumes");
        QTest::newRow("same ETag: only the missing bytes") << QByteArray("\"v1\"") << true;
        QTest::newRow("ETag changed: afresh") << QByteArray("\"v2\"") << false;
    }

    // A download cut in every range; the next one, by another coordinator as
    // in a later run, fetches what is missing when the file is the same.
    void resumeAcrossRuns()
    {
        QFETCH(QByteArray, etagThen);
        QFETCH(bool, resumes);
        TestHttpServer server;
        TestHttpServer::Route route;
        route.body = pattern(600000);
        route.headers = {{"ETag", "\"v1\""}};
        route.dropAfter = 50000;
        server.setRoute(QStringLiteral("/f"), route);
        const QString url = server.url(QStringLiteral("/f")).toString();
        const QString target = newTarget();
        // A link planted where the record goes is not written through.
        QTemporaryDir outside;
        QFile profile(outside.filePath(QStringLiteral("profile")));
        QVERIFY(profile.open(QIODevice::WriteOnly) && profile.write("the user's own") == 14);
        profile.close();
        QVERIFY(QFile::link(profile.fileName(), ResumeRecord::recordPath(target)));
        {
            DownloadControl firstRun;
            Outcome cut(&firstRun);
            QVERIFY(firstRun.downloadFile(url, target, 6));
            QVERIFY(cut.wait());
            QCOMPARE(cut.error.size(), 1);
        }
        QVERIFY(profile.open(QIODevice::ReadOnly));
        QCOMPARE(profile.readAll(), QByteArray("the user's own"));
        QVERIFY(!QFileInfo(ResumeRecord::recordPath(target)).isSymLink());
        const qint64 done = ResumeRecord::read(target).bytesDone();
        QVERIFY(done >= 50000);

        route.dropAfter = -1;
        route.headers = {{"ETag", etagThen}};
        server.setRoute(QStringLiteral("/f"), route);
        server.clearRequests();
        DownloadControl nextRun;
        Outcome outcome(&nextRun);
        QVERIFY(nextRun.downloadFile(url, target, 6));
        QVERIFY(outcome.wait());
        QCOMPARE(outcome.finished.size(), 1);
        QCOMPARE(outcome.progress.last().at(3).toLongLong(),
                 resumes ? qint64(route.body.size()) : qint64(route.body.size() + 5));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), route.body);
        QVERIFY(!QFile::exists(ResumeRecord::recordPath(target)));

        const QStringList ranges = rangesSeen(server, QStringLiteral("/f"));
        if (!resumes) {
            QCOMPARE(ranges, (QStringList{"bytes=0-100000", "bytes=100000-200000",
                                          "bytes=200000-300000", "bytes=300000-400000",
                                          "bytes=400000-500000", "bytes=500000-600000"}));
            return;
        }
        qint64 asked = 0;
        for (const QString &range : ranges) {
            const QStringList bounds = range.mid(6).split(QLatin1Char('-'));
            asked += bounds.at(1).toLongLong() - bounds.at(0).toLongLong() + 1;
        }
        QCOMPARE(asked, route.body.size() - done);
    }

    void transferTimeout()
    {
        TestHttpServer server;
        TestHttpServer::Route stall;
        stall.body = pattern(1000);
        stall.stallAfter = 100;
        server.setRoute(QStringLiteral("/f"), stall);
        DownloadControl control;
        control.setTransferTimeout(shortTimeout);
        Outcome outcome(&control);
        QVERIFY(control.downloadFile(server.url(QStringLiteral("/f")).toString(), newTarget(), 6));
        QVERIFY(outcome.wait());
        QCOMPARE(outcome.error.size(), 1);
        QCOMPARE(outcome.error.first().at(0).toString(),
                 QStringLiteral("The connection timeout,please check the download url"));
    }

    // The controller deletes its coordinator from its own thread; a deletion
    // that arrives while the size query waits must not leave it running on.
    void deletedDuringSizeQuery()
    {
        TestHttpServer server;
        TestHttpServer::Route stall;
        stall.stall = true;
        server.setRoute(QStringLiteral("/f"), stall);
        QPointer<DownloadControl> control = new DownloadControl;
        control->setTransferTimeout(60000);
        std::unique_ptr<QThread> deleter(QThread::create([&] {
            while (server.requests().isEmpty())
                QThread::msleep(10);
            control->deleteLater();
        }));
        deleter->start();
        QVERIFY(
            !control->downloadFile(server.url(QStringLiteral("/f")).toString(), newTarget(), 6));
        QVERIFY(deleter->wait(10000));
        QVERIFY(control.isNull());
    }

    // The controller calls downloadFile from its own thread for every packet.
    void calledFromAnotherThread_data()
    {
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("completes") << true;
        QTest::newRow("fails, then the coordinator is deleted") << false;
    }

    void calledFromAnotherThread()
    {
        QFETCH(bool, succeeds);
        TestHttpServer server;
        const QByteArray body = pattern(2 * 1024 * 1024 + 7);
        TestHttpServer::Route route;
        route.body = body;
        route.dropAfter = succeeds ? -1 : 1000;
        server.setRoute(QStringLiteral("/f"), route);

        auto control = new DownloadControl;
        Outcome outcome(control);
        const QString target = newTarget();
        bool started = false;
        std::unique_ptr<QThread> caller(QThread::create([&] {
            started = control->downloadFile(server.url(QStringLiteral("/f")).toString(), target, 6);
        }));
        caller->start();
        QVERIFY(outcome.wait());
        QVERIFY(caller->wait(10000));
        QVERIFY(started);
        if (succeeds) {
            QCOMPARE(outcome.finished.size(), 1);
            QFile file(target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), body);
        } else {
            QCOMPARE(outcome.error.size(), 1);
        }
        // As the controller does after a failure: the workers and the file go
        // with the coordinator, on its thread.
        QSignalSpy destroyed(control, SIGNAL(destroyed()));
        control->deleteLater();
        QVERIFY(destroyed.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestDownloadControl)
#include "tst_downloadcontrol.moc"
