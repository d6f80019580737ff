#include "testhttpserver.h"

#include "testhttpconnection.h"

#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

QByteArray TestHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

QByteArray TestHttpServer::Request::path() const
{
    const int query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    serverThread.setObjectName(QStringLiteral("TestHttpServer"));
    serverThread.start();
    tcpServer = new QTcpServer;
    tcpServer->moveToThread(&serverThread);
    connect(tcpServer, &QTcpServer::newConnection, tcpServer, [this] {
        while (QTcpSocket *socket = tcpServer->nextPendingConnection())
            new TestHttpConnection(socket, this);
    });
    QMetaObject::invokeMethod(
        tcpServer,
        [this] {
            if (tcpServer->listen(QHostAddress::LocalHost, 0))
                listenPort = tcpServer->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

TestHttpServer::~TestHttpServer()
{
    // The server and its connections are deleted on their own thread, which
    // handles the deferred deletion before it ends.
    tcpServer->deleteLater();
    serverThread.quit();
    serverThread.wait();
}

QUrl TestHttpServer::url(const QString &target) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(listenPort).arg(target));
}

void TestHttpServer::setRoute(const QString &target, const Route &route)
{
    QMutexLocker locker(&mutex);
    routes.insert(target, route);
}

void TestHttpServer::removeRoute(const QString &target)
{
    QMutexLocker locker(&mutex);
    routes.remove(target);
}

void TestHttpServer::serve(const QString &target, const QByteArray &body)
{
    Route route;
    route.body = body;
    setRoute(target, route);
}

void TestHttpServer::serveFile(const QString &target, const QString &filePath)
{
    Route route;
    route.filePath = filePath;
    setRoute(target, route);
}

void TestHttpServer::redirect(const QString &target, int status, const QByteArray &location)
{
    Route route;
    route.status = status;
    route.location = location;
    route.body = "<html>moved to " + location + "</html>";
    setRoute(target, route);
}

void TestHttpServer::redirectChain(const QString &first, int count, const QString &finalTarget,
                                   int status, bool relative)
{
    for (int i = 0; i < count; ++i) {
        const QString from = i == 0 ? first : first + QLatin1Char('/') + QString::number(i);
        const QString to =
            i + 1 == count ? finalTarget : first + QLatin1Char('/') + QString::number(i + 1);
        redirect(from, status, relative ? to.toUtf8() : url(to).toEncoded());
    }
}

void TestHttpServer::respond(const QString &target, int status, const QByteArray &body)
{
    Route route;
    route.status = status;
    route.body = body;
    setRoute(target, route);
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    QMutexLocker locker(&mutex);
    return seen;
}

QList<TestHttpServer::Request> TestHttpServer::requests(const QString &path) const
{
    QMutexLocker locker(&mutex);
    QList<Request> matching;
    for (const Request &request : seen) {
        if (request.path() == path.toUtf8())
            matching.append(request);
    }
    return matching;
}

void TestHttpServer::clearRequests()
{
    QMutexLocker locker(&mutex);
    seen.clear();
}

TestHttpServer::Route TestHttpServer::routeFor(const QByteArray &target) const
{
    QMutexLocker locker(&mutex);
    const QString text = QString::fromUtf8(target);
    if (routes.contains(text))
        return routes.value(text);
    const int query = text.indexOf(QLatin1Char('?'));
    if (query >= 0 && routes.contains(text.left(query)))
        return routes.value(text.left(query));
    Route notFound;
    notFound.status = 404;
    notFound.body = "not found";
    return notFound;
}

bool TestHttpServer::takeBusyAnswer(const QByteArray &target)
{
    QMutexLocker locker(&mutex);
    auto route = routes.find(QString::fromUtf8(target));
    if (route == routes.end() || route->busyAnswers <= 0)
        return false;
    --route->busyAnswers;
    return true;
}

void TestHttpServer::record(const Request &request)
{
    {
        QMutexLocker locker(&mutex);
        seen.append(request);
    }
    const QByteArray method = request.method;
    const QByteArray target = request.target;
    QMetaObject::invokeMethod(
        this, [this, method, target] { emit requestReceived(method, target); },
        Qt::QueuedConnection);
}
