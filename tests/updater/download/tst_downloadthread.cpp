// One range worker against the in-process test server and nginx: redirects
// and their limit, statuses that are not followed, the error texts, and
// ranges written at their offsets in any order.
#include "download/downloadthread.h"
#include "nginxserver.h"
#include "shared/vendorconfig.h"
#include "testhttpserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// A worker fetching one range into an open file, with spies on its signals.
struct Run
{
    Run(const QString &path, int timeout = DownloadThread::defaultTransferTimeout)
        : file(path), finished(&worker, SIGNAL(finished(int))),
          error(&worker, SIGNAL(error(int, QString, bool))),
          progress(&worker, SIGNAL(progressChange(int, qint64, qint64, qint64)))
    {
        file.open(QIODevice::ReadWrite);
        worker.setTransferTimeout(timeout);
        worker.setRetryDelays(10, 40);
    }
    bool fetch(const QUrl &url, qint64 start, qint64 end, int index = 0)
    {
        worker.startDownload(index, url.toString(), &file, start, end);
        return QTest::qWaitFor([this] { return !finished.isEmpty() || !error.isEmpty(); }, 6000);
    }
    QByteArray content()
    {
        file.flush();
        file.seek(0);
        return file.readAll();
    }
    QFile file;
    DownloadThread worker;
    QSignalSpy finished, error, progress;
};

} // namespace

class TestDownloadThread : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    int fileNumber = 0;
    QString newFile() { return dir.filePath(QString::number(++fileNumber)); }

private slots:
    void followedRedirects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("relative");
        QTest::newRow("301") << 301 << 1 << false;
        QTest::newRow("302") << 302 << 1 << false;
        QTest::newRow("302 relative") << 302 << 1 << true;
        QTest::newRow("ten 301") << 301 << 10 << false;
        QTest::newRow("ten relative 302") << 302 << 10 << true;
    }

    // Each redirect restarts the range at the new address from 0; the
    // redirect bodies never reach the file.
    void followedRedirects()
    {
        QFETCH(int, status);
        QFETCH(int, count);
        QFETCH(bool, relative);
        TestHttpServer server;
        server.serve(QStringLiteral("/files/end"), "0123456789");
        server.redirectChain(QStringLiteral("/r"), count, QStringLiteral("/files/end"), status,
                             relative);
        Run run(newFile());
        QVERIFY(run.fetch(server.url(QStringLiteral("/r")), 2, 5, 3));
        QCOMPARE(run.finished.size(), 1);
        QCOMPARE(run.finished.first().first().toInt(), 3);
        QCOMPARE(run.content(), QByteArray("\0\0"
                                           "2345",
                                           6));

        const auto seen = server.requests();
        QCOMPARE(seen.size(), count + 1);
        for (const auto &request : seen)
            QCOMPARE(request.header("Range"), QByteArray("bytes=2-5"));
        QCOMPARE(seen.last().path(), QByteArray("/files/end"));

        // One report of 0 opens every request, and the last figure counts the
        // last request alone.
        int zeros = 0;
        for (const auto &report : run.progress) {
            QCOMPARE(report.at(1).toLongLong(), qint64(2));
            QCOMPARE(report.at(2).toLongLong(), qint64(5));
            zeros += report.at(3).toLongLong() == 0;
        }
        QVERIFY(zeros >= count + 1);
        QCOMPARE(run.progress.last().at(3).toLongLong(), qint64(4));
    }

    // The answer after the eleventh redirect is rejected even when it is a 200.
    void hijackAfterElevenRedirects()
    {
        TestHttpServer server;
        server.serve(QStringLiteral("/end"), "0123456789");
        server.redirectChain(QStringLiteral("/r"), 11, QStringLiteral("/end"));
        Run run(newFile());
        QVERIFY(run.fetch(server.url(QStringLiteral("/r")), 0, 9));
        QCOMPARE(server.requests().size(), 12);
        QCOMPARE(server.requests().last().path(), QByteArray("/end"));
        QCOMPARE(run.error.size(), 1);
        QCOMPARE(run.error.first().at(1).toString(), DownloadThread::hijackMessage());
        QCOMPARE(run.error.first().at(2).toBool(), true);
        QVERIFY(run.finished.isEmpty());
        QCOMPARE(run.content(), QByteArray());
        QCOMPARE(DownloadThread::hijackMessage(),
                 QStringLiteral("Your broadband service provider hijacked the download address, "
                                "please download the latest version from <" VELMORA_WEB_HOST ">"));
    }

    void notFollowed_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("303") << 303;
        QTest::newRow("307") << 307;
        QTest::newRow("308") << 308;
    }

    // Only 301 and 302 are followed; any other redirect fails the range with
    // its status, its body never taken for the file.
    void notFollowed()
    {
        QFETCH(int, status);
        TestHttpServer server;
        server.serve(QStringLiteral("/end"), "0123456789");
        TestHttpServer::Route route;
        route.status = status;
        route.location = "/end";
        route.body = "moved";
        server.setRoute(QStringLiteral("/r"), route);
        Run run(newFile());
        QVERIFY(run.fetch(server.url(QStringLiteral("/r")), 1, 4));
        QCOMPARE(run.error.size(), 1);
        const QString text = run.error.first().at(1).toString();
        QVERIFY2(text.contains(QStringLiteral(" - server replied: ")), qPrintable(text));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(run.content(), QByteArray());
    }

    void errorTexts_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QString broken =
            QStringLiteral("The connection has been broken,please login and download again");
        const QString timeout =
            QStringLiteral("The connection timeout,please check the download url");
        const QString busy = DownloadThread::busyText();
        // Asked again a few times before the range gives up.
        QTest::newRow("connection refused") << "refused" << busy;
        QTest::newRow("503 through every retry") << "503" << busy;
        QTest::newRow("429 through every retry") << "429" << busy;
        QTest::newRow("host not found") << "unknown host"
                                        << "The server is not found,please check the network";
        QTest::newRow("404") << "404"
                             << "The download file is not found,please check the download url";
        QTest::newRow("500") << "500"
                             << "";
        QTest::newRow("dropped mid-body") << "drop" << broken;
        // Without a length only the range asked for tells that bytes are missing.
        QTest::newRow("short body without length") << "short" << broken;
        QTest::newRow("206 of another range") << "other range" << broken;
        QTest::newRow("206 of another file size") << "other size" << broken;
        // Read only up to a small bound, then the request ends with its status.
        QTest::newRow("404 whose body never ends")
            << "endless 404"
            << "The download file is not found,please check the download url";
        QTest::newRow("no answer") << "stall" << timeout;
        QTest::newRow("stall mid-body") << "stall after" << timeout;
        // A redirect without a target is broken, not one to the same address;
        // one that leaves http would read a local file into the download.
        const QString refused = DownloadThread::refusedRedirectText();
        QTest::newRow("302 without Location") << "location" << refused;
        QTest::newRow("301 with empty Location") << "location " << refused;
        QTest::newRow("302 to a local file") << "location file:///etc/hostname" << refused;
        QTest::newRow("302 to https") << "location https://127.0.0.1:9/f" << refused;
    }

    void errorTexts()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        TestHttpServer server;
        QUrl url = server.url(QStringLiteral("/f"));
        TestHttpServer::Route route;
        route.body = QByteArray(100000, 'x');
        if (kind == "refused") {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            url.setPort(closed.serverPort());
        } else if (kind == "unknown host") {
            url = QUrl(QStringLiteral("http://download.velmora.invalid/f"));
        } else if (kind == "404" || kind == "500") {
            route.status = kind.toInt();
        } else if (kind == "503" || kind == "429") {
            route.busyAnswers = 1000;
        } else if (kind == "short") {
            route.bodyLength = false;
            route.dropAfter = 1000;
        } else if (kind.startsWith("other ")) {
            route.status = 206;
            route.honourRange = false;
            route.headers = {{"Content-Range", kind == "other range" ? "bytes 1-100000/100000"
                                                                     : "bytes 0-99999/200000"}};
        } else if (kind == "endless 404") {
            route.status = 404;
            route.endlessBody = true;
        } else if (kind == "drop") {
            route.dropAfter = 1000;
        } else if (kind == "stall") {
            route.stall = true;
        } else if (kind.startsWith("location")) {
            route.status = kind == "location " ? 301 : 302;
            if (kind == "location ")
                route.headers = {{"Location", ""}};
            else
                route.location = kind.mid(9).toUtf8();
        } else {
            route.stallAfter = 1000;
        }
        server.setRoute(QStringLiteral("/f"), route);
        Run run(newFile(), 300);
        run.worker.setFileSize(100000);
        QVERIFY(run.fetch(url, 0, 99999));
        QTest::qWait(50); // a late finished() of the failed reply must change nothing
        QCOMPARE(run.error.size(), 1);
        QVERIFY(run.finished.isEmpty());
        const QString shown = run.error.first().at(1).toString();
        if (kind == "500") // the network layer's own text, untranslated
            QVERIFY2(shown.contains(QStringLiteral("Internal Server Error")), qPrintable(shown));
        else
            QCOMPARE(shown, text);
        QCOMPARE(run.error.first().at(2).toBool(), false);
        // No byte of an error answer, a refused redirect or a wrong part is
        // taken for the file.
        if (QRegularExpression(QStringLiteral("^(404|500|location|other|endless)"))
                .match(kind)
                .hasMatch()) {
            QCOMPARE(run.content(), QByteArray());
            QCOMPARE(server.requests().size(), 1);
        }
        if (kind == "503" || kind == "429" || kind == "refused")
            QCOMPARE(run.progress.size(), 1 + DownloadThread::busyRetries);
        // Every request asks for the bytes as they are on the server.
        for (const auto &request : server.requests())
            QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
    }

    void rangesInAnyOrder_data()
    {
        QTest::addColumn<bool>("useNginx");
        QTest::addColumn<int>("size");
        for (bool useNginx : {false, true}) {
            for (int size : {1, 5, 1024 * 1024 + 3})
                QTest::addRow("%s %d", useNginx ? "nginx" : "test server", size)
                    << useNginx << size;
        }
    }

    // The ranges of one file fetched last first, each written at its offset.
    void rangesInAnyOrder()
    {
        QFETCH(bool, useNginx);
        QFETCH(int, size);
        QTemporaryDir root;
        QByteArray body(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            body[i] = char((quint32(i) * 7919u) >> 3);
        QFile source(root.filePath(QStringLiteral("f")));
        QVERIFY(source.open(QIODevice::WriteOnly));
        source.write(body);
        source.close();
        TestHttpServer server;
        server.serveFile(QStringLiteral("/f"), source.fileName());
        NginxServer nginx(root.path());
        if (useNginx)
            QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const QUrl url =
            useNginx ? nginx.url(QStringLiteral("/f")) : server.url(QStringLiteral("/f"));

        QFile target(newFile());
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.resize(size);
        const int ranges = 6;
        for (int i = ranges - 1; i >= 0; --i) {
            DownloadThread worker;
            QSignalSpy finished(&worker, SIGNAL(finished(int)));
            worker.startDownload(i, url.toString(), &target, qint64(size) * i / ranges,
                                 qint64(size) * (i + 1) / ranges);
            QVERIFY(finished.wait(10000));
        }
        target.close();
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.size(), qint64(size));
        QVERIFY(target.readAll() == body);
    }
};

QTEST_GUILESS_MAIN(TestDownloadThread)
#include "tst_downloadthread.moc"
