#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QThread>
#include <QUrl>

class QTcpServer;

// An HTTP/1.1 server for tests, inside the test process, listening on
// 127.0.0.1 on a port the system picks. It runs on a thread of its own, so it
// keeps answering while the test's thread is busy in a nested event loop or
// blocked in a wait.
//
// Each request target is answered as its Route says; a target without a route
// gets 404. Routes are looked up by the exact target first (query included),
// then by the path without its query. Every request is recorded (method,
// target, headers, body) for the test to inspect.
//
//     TestHttpServer server;                      // listening once constructed
//     server.serve("/file", bytes);               // honours Range like a file server
//     server.redirect("/old", 302, "/file");      // relative Location
//     QUrl u = server.url("/old");
//     ... server.requests("/file").first().header("Range") ...
//
// Connections are kept alive; request bodies must carry Content-Length.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Route
    {
        int status = 200;
        // The entity: the bytes of `body`, or the content of `filePath` when
        // that is set (read piecewise, for big fixtures).
        QByteArray body;
        QString filePath;
        // Answer "Range: bytes=a-b" (and "bytes=a-") with 206 and the part,
        // as a file server does: 416 when a lies past the end, 200 with the
        // whole (empty) entity when it is empty. False: always the whole entity.
        bool honourRange = true;
        // A HEAD answer carries the entity's Content-Length; false leaves it
        // out and closes the connection after the headers.
        bool headContentLength = true;
        qint64 headLength = -1; // when >= 0, the Content-Length a HEAD announces
        // A GET answer carries Content-Length; false leaves it out and closes
        // the connection after the body.
        bool bodyLength = true;
        QByteArray location; // sent as "Location" when not empty
        Headers headers;     // further response headers
        // Faults. -1 means off.
        bool stall = false;        // read the request, never answer
        bool stallRanges = false;  // the same for requests with a Range header only
        qint64 stallAfter = -1;    // send the headers and this many body bytes, then nothing
        qint64 dropAfter = -1;     // send the headers and this many body bytes, then close
        int trickleBytes = 0;      // when > 0, send the body in pieces of this size...
        int trickleIntervalMs = 0; // ...one piece every trickleIntervalMs
        bool endlessBody = false;  // the body, without a length, repeated for ever
        // The first this many requests with a Range header are answered 503,
        // with `headers`; counted over all connections.
        int busyAnswers = 0;
    };

    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent, query included
        Headers headers;
        QByteArray body;
        // The value of the first header of that name (case ignored); empty when absent.
        QByteArray header(const QByteArray &name) const;
        QByteArray path() const; // target without its query
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    bool isListening() const { return listenPort != 0; }
    quint16 port() const { return listenPort; }
    // "http://127.0.0.1:<port>" followed by `target`, which starts with "/".
    QUrl url(const QString &target) const;

    void setRoute(const QString &target, const Route &route);
    void removeRoute(const QString &target);
    // 200 with `body`, Range honoured.
    void serve(const QString &target, const QByteArray &body);
    // 200 with the content of a file, Range honoured.
    void serveFile(const QString &target, const QString &filePath);
    // `status` (301, 302, 303, 307, 308, ...) with `location` as sent and a
    // short body, which a client must not take for the entity.
    void redirect(const QString &target, int status, const QByteArray &location);
    // A chain of `count` redirects: `first` sends to first + "/1", that to
    // first + "/2", ..., and first + "/<count>" ... the last one to `finalTarget`.
    // `relative` sends paths only; otherwise absolute URLs.
    void redirectChain(const QString &first, int count, const QString &finalTarget,
                       int status = 302, bool relative = false);
    // `status` with `body` and no other behaviour (404, 500, ...).
    void respond(const QString &target, int status, const QByteArray &body = QByteArray());

    QList<Request> requests() const;
    QList<Request> requests(const QString &path) const; // by path, query ignored
    void clearRequests();

    // Used by the connections on the server's thread.
    Route routeFor(const QByteArray &target) const;
    // True when the route of `target` still has a busy answer to give, which
    // is then used up.
    bool takeBusyAnswer(const QByteArray &target);
    void record(const Request &request);

signals:
    // Emitted on the thread of this object when a complete request has arrived.
    void requestReceived(const QByteArray &method, const QByteArray &target);

private:
    QThread serverThread;
    QTcpServer *tcpServer = nullptr; // lives on serverThread
    quint16 listenPort = 0;
    mutable QMutex mutex;
    QHash<QString, Route> routes;
    QList<Request> seen;
};
