#pragma once

#include "testhttpserver.h"

#include <QObject>
#include <memory>

class QIODevice;
class QTcpSocket;
class QTimer;

// One client connection of TestHttpServer, on the server's thread: reads the
// requests one after the other and answers each as its route says.
class TestHttpConnection : public QObject
{
    Q_OBJECT

public:
    TestHttpConnection(QTcpSocket *socket, TestHttpServer *server);
    ~TestHttpConnection() override;

private slots:
    void readRequests();
    void sendBody();

private:
    bool takeRequest(TestHttpServer::Request &request);
    void answer(const TestHttpServer::Request &request);
    void endAnswer();

    QTcpSocket *socket;
    TestHttpServer *server;
    QTimer *trickleTimer;
    QByteArray received;
    bool answering = false;
    bool closeAfterAnswer = false;
    // The body being sent.
    TestHttpServer::Route route;
    std::unique_ptr<QIODevice> source;
    qint64 bodyLeft = 0;     // bytes of the body still to send before the fault (or the end)
    bool faultAtEnd = false; // the body is cut short by stallAfter or dropAfter
};
