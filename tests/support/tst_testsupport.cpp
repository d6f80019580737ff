// Checks the test servers themselves, so that a failing engine test points at
// the engine and not at its fixture.
#include "nginxserver.h"
#include "testhttpserver.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <signal.h>

class TestSupport : public QObject
{
    Q_OBJECT

private:
    // Sends one request with manual redirects and waits for its end.
    std::unique_ptr<QNetworkReply> fetch(const QUrl &url, const QByteArray &method = "GET",
                                         const QByteArray &range = QByteArray())
    {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        if (!range.isEmpty())
            request.setRawHeader("Range", range);
        std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, method));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(10000);
        return reply;
    }

    static int status(QNetworkReply *reply)
    {
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

    QNetworkAccessManager manager;

private slots:
    void rangeAnswers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("contentRange");

        QTest::newRow("no range") << QByteArray("hello") << QByteArray() << 200
                                  << QByteArray("hello") << QByteArray();
        QTest::newRow("inner") << QByteArray("hello") << QByteArray("bytes=1-3") << 206
                               << QByteArray("ell") << QByteArray("bytes 1-3/5");
        QTest::newRow("past the end") << QByteArray("hello") << QByteArray("bytes=3-5") << 206
                                      << QByteArray("lo") << QByteArray("bytes 3-4/5");
        QTest::newRow("open") << QByteArray("hello") << QByteArray("bytes=4-") << 206
                              << QByteArray("o") << QByteArray("bytes 4-4/5");
        QTest::newRow("unsatisfiable") << QByteArray("hello") << QByteArray("bytes=5-9") << 416
                                       << QByteArray() << QByteArray("bytes */5");
        QTest::newRow("empty entity")
            << QByteArray() << QByteArray("bytes=0-0") << 200 << QByteArray() << QByteArray();
    }

    void rangeAnswers()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, contentRange);

        TestHttpServer server;
        QVERIFY(server.isListening());
        server.serve(QStringLiteral("/f"), body);
        auto reply = fetch(server.url(QStringLiteral("/f")), "GET", range);
        QCOMPARE(TestSupport::status(reply.get()), status);
        QCOMPARE(reply->readAll(), content);
        QCOMPARE(reply->rawHeader("Content-Range"), contentRange);
        QCOMPARE(server.requests(QStringLiteral("/f")).size(), 1);
        QCOMPARE(server.requests().first().header("range"), range);
    }

    void ignoredRangeAndHead()
    {
        TestHttpServer server;
        TestHttpServer::Route route;
        route.body = "hello";
        route.honourRange = false;
        route.headContentLength = false;
        server.setRoute(QStringLiteral("/f"), route);

        auto whole = fetch(server.url(QStringLiteral("/f")), "GET", "bytes=1-2");
        QCOMPARE(status(whole.get()), 200);
        QCOMPARE(whole->readAll(), QByteArray("hello"));
        auto head = fetch(server.url(QStringLiteral("/f")), "HEAD");
        QCOMPARE(status(head.get()), 200);
        QVERIFY(!head->hasRawHeader("Content-Length"));
        QCOMPARE(server.requests().last().method, QByteArray("HEAD"));
    }

    void redirectChain_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::newRow("absolute") << false;
        QTest::newRow("relative") << true;
    }

    void redirectChain()
    {
        QFETCH(bool, relative);
        TestHttpServer server;
        server.serve(QStringLiteral("/end"), "end");
        server.redirectChain(QStringLiteral("/r"), 3, QStringLiteral("/end"), 301, relative);
        QUrl url = server.url(QStringLiteral("/r"));
        QList<QByteArray> visited;
        for (int hop = 0; hop < 4; ++hop) {
            visited.append(url.path().toUtf8());
            auto reply = fetch(url);
            if (status(reply.get()) != 301)
                break;
            const QByteArray location = reply->rawHeader("Location");
            QCOMPARE(location.startsWith("http://"), !relative);
            url = url.resolved(QUrl::fromEncoded(location));
        }
        QCOMPARE(visited, (QList<QByteArray>{"/r", "/r/1", "/r/2", "/end"}));
    }

    void faults()
    {
        TestHttpServer server;
        TestHttpServer::Route drop;
        drop.body = QByteArray(1000, 'x');
        drop.dropAfter = 10;
        server.setRoute(QStringLiteral("/drop"), drop);
        auto dropped = fetch(server.url(QStringLiteral("/drop")));
        QCOMPARE(dropped->error(), QNetworkReply::RemoteHostClosedError);

        TestHttpServer::Route stall;
        stall.stall = true;
        server.setRoute(QStringLiteral("/stall"), stall);
        QSignalSpy received(&server, &TestHttpServer::requestReceived);
        std::unique_ptr<QNetworkReply> stalled(
            manager.get(QNetworkRequest(server.url(QStringLiteral("/stall")))));
        QVERIFY(received.wait(10000));
        QCOMPARE(received.first().at(1).toByteArray(), QByteArray("/stall"));
        QTest::qWait(200);
        QVERIFY(!stalled->isFinished());
        QCOMPARE(stalled->bytesAvailable(), 0);

        TestHttpServer::Route trickle;
        trickle.body = "0123456789";
        trickle.trickleBytes = 3;
        trickle.trickleIntervalMs = 10;
        server.setRoute(QStringLiteral("/trickle"), trickle);
        auto slow = fetch(server.url(QStringLiteral("/trickle")));
        QCOMPARE(slow->readAll(), QByteArray("0123456789"));

        auto missing = fetch(server.url(QStringLiteral("/none")));
        QCOMPARE(missing->error(), QNetworkReply::ContentNotFoundError);
    }

    void recordsBodies()
    {
        TestHttpServer server;
        server.respond(QStringLiteral("/api"), 200, "ok");
        QNetworkRequest request(server.url(QStringLiteral("/api?action=put")));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
        std::unique_ptr<QNetworkReply> reply(manager.post(request, QByteArray("payload")));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->readAll(), QByteArray("ok"));
        const TestHttpServer::Request seen = server.requests(QStringLiteral("/api")).first();
        QCOMPARE(seen.target, QByteArray("/api?action=put"));
        QCOMPARE(seen.body, QByteArray("payload"));
    }

    void nginxServesDirectory()
    {
        QTemporaryDir root;
        QFile file(root.filePath(QStringLiteral("five")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("hello");
        file.close();
        qint64 pid = 0;
        {
            NginxServer nginx(root.path());
            QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
            pid = nginx.processId();
            auto part = fetch(nginx.url(QStringLiteral("/five")), "GET", "bytes=1-3");
            QCOMPARE(status(part.get()), 206);
            QCOMPARE(part->readAll(), QByteArray("ell"));
        }
        // The destructor has stopped the process it started.
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid_t(pid), 0), -1);
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_testsupport.moc"
