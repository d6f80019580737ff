#include "testhttpconnection.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <limits>

namespace {

// Keeps at most this much unsent data in the socket, so that big bodies are
// read from their source piece by piece.
const qint64 socketBacklog = 256 * 1024;
const qint64 pieceSize = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 404:
        return "Not Found";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

TestHttpConnection::TestHttpConnection(QTcpSocket *socket, TestHttpServer *server)
    : QObject(socket), socket(socket), server(server), trickleTimer(new QTimer(this))
{
    trickleTimer->setSingleShot(true);
    connect(trickleTimer, &QTimer::timeout, this, &TestHttpConnection::sendBody);
    connect(socket, &QTcpSocket::readyRead, this, &TestHttpConnection::readRequests);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (!trickleTimer->isActive())
            sendBody();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    readRequests();
}

TestHttpConnection::~TestHttpConnection() = default;

void TestHttpConnection::readRequests()
{
    received += socket->readAll();
    TestHttpServer::Request request;
    while (!answering && takeRequest(request)) {
        server->record(request);
        answer(request);
    }
}

bool TestHttpConnection::takeRequest(TestHttpServer::Request &request)
{
    const int headerEnd = received.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = received.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() < 2) {
        socket->abort();
        return false;
    }
    request = TestHttpServer::Request();
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
    }
    const int bodyLength = request.header("Content-Length").toInt();
    if (received.size() < headerEnd + 4 + bodyLength)
        return false;
    request.body = received.mid(headerEnd + 4, bodyLength);
    received.remove(0, headerEnd + 4 + bodyLength);
    return true;
}

void TestHttpConnection::answer(const TestHttpServer::Request &request)
{
    answering = true;
    closeAfterAnswer = request.header("Connection").toLower() == "close";
    route = server->routeFor(request.target);
    const bool ranged = !request.header("Range").isEmpty();
    if (route.stall || (route.stallRanges && ranged))
        return;
    if (ranged && server->takeBusyAnswer(request.target)) {
        route.status = 503;
        route.body = "busy";
        route.filePath.clear();
        route.endlessBody = false;
    }

    if (route.filePath.isEmpty()) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(route.body);
        source = std::move(buffer);
    } else {
        source = std::make_unique<QFile>(route.filePath);
    }
    source->open(QIODevice::ReadOnly);
    const qint64 size = source->size();

    int status = route.status;
    qint64 first = 0;
    qint64 length = size;
    QByteArray contentRange;
    static const QRegularExpression rangePattern(QStringLiteral("^bytes=(\\d+)-(\\d*)$"));
    const QRegularExpressionMatch range =
        rangePattern.match(QString::fromLatin1(request.header("Range")));
    if (status == 200 && route.honourRange && range.hasMatch() && size > 0) {
        first = range.captured(1).toLongLong();
        const qint64 last =
            range.captured(2).isEmpty() ? size - 1 : qMin(range.captured(2).toLongLong(), size - 1);
        if (first >= size || last < first) {
            status = 416;
            contentRange = "bytes */" + QByteArray::number(size);
            first = 0;
            length = 0;
        } else {
            status = 206;
            length = last - first + 1;
            contentRange = "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) +
                           '/' + QByteArray::number(size);
        }
    }

    const bool head = request.method == "HEAD";
    // Without a length the client can only tell the end of the answer by the
    // end of the connection.
    if (head && !route.headContentLength)
        closeAfterAnswer = true;
    QByteArray header =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (head && route.headLength >= 0)
        header += "Content-Length: " + QByteArray::number(route.headLength) + "\r\n";
    else if (head ? route.headContentLength : route.bodyLength && !route.endlessBody)
        header += "Content-Length: " + QByteArray::number(length) + "\r\n";
    else if (!head)
        closeAfterAnswer = true;
    if (!contentRange.isEmpty())
        header += "Content-Range: " + contentRange + "\r\n";
    if (!route.location.isEmpty())
        header += "Location: " + route.location + "\r\n";
    for (const auto &extra : qAsConst(route.headers))
        header += extra.first + ": " + extra.second + "\r\n";
    header += closeAfterAnswer ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    socket->write(header);

    source->seek(first);
    bodyLeft = head ? 0 : route.endlessBody ? std::numeric_limits<qint64>::max() : length;
    faultAtEnd = false;
    const qint64 faultAfter = route.dropAfter >= 0 ? route.dropAfter : route.stallAfter;
    if (!head && faultAfter >= 0 && faultAfter < length) {
        bodyLeft = faultAfter;
        faultAtEnd = true;
    }
    sendBody();
}

void TestHttpConnection::sendBody()
{
    if (!answering || !source)
        return;
    if (route.trickleBytes > 0) {
        if (bodyLeft > 0) {
            const QByteArray piece = source->read(qMin<qint64>(route.trickleBytes, bodyLeft));
            bodyLeft -= piece.size();
            socket->write(piece);
            trickleTimer->start(route.trickleIntervalMs);
            return;
        }
    } else {
        while (bodyLeft > 0 && socket->bytesToWrite() < socketBacklog) {
            const QByteArray piece = source->read(qMin(pieceSize, bodyLeft));
            if (piece.isEmpty() && route.endlessBody && source->size() > 0) {
                source->seek(0);
                continue;
            }
            if (piece.isEmpty())
                break;
            bodyLeft -= piece.size();
            socket->write(piece);
        }
    }
    if (bodyLeft <= 0 && !trickleTimer->isActive())
        endAnswer();
}

void TestHttpConnection::endAnswer()
{
    source.reset();
    if (faultAtEnd) {
        // A stall keeps `answering` set, so nothing more is ever sent.
        if (route.dropAfter >= 0)
            socket->disconnectFromHost();
        return;
    }
    answering = false;
    if (closeAfterAnswer) {
        socket->disconnectFromHost();
        return;
    }
    if (!received.isEmpty())
        QTimer::singleShot(0, this, &TestHttpConnection::readRequests);
}
