#include "nginxserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

const char nginxProgram[] = "/usr/sbin/nginx";

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool acceptsConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

NginxServer::NginxServer(const QString &rootDirectory) : root(QDir(rootDirectory).absolutePath())
{
    process.setProgram(QString::fromLatin1(nginxProgram));
    process.setProcessChannelMode(QProcess::MergedChannels);
}

NginxServer::~NginxServer()
{
    stop();
}

void NginxServer::setExtraServerConfig(const QByteArray &directives)
{
    extraConfig = directives;
}

void NginxServer::setExtraHttpConfig(const QByteArray &directives)
{
    extraHttpConfig = directives;
}

bool NginxServer::start()
{
    if (!workDir.isValid()) {
        error = QStringLiteral("no temporary directory: %1").arg(workDir.errorString());
        return false;
    }
    // The port is free when probed but may be taken before nginx binds it;
    // another port is tried then.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce())
            return true;
    }
    return false;
}

bool NginxServer::startOnce()
{
    stop();
    listenPort = freeLoopbackPort();
    if (listenPort == 0) {
        error = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    const QString dir = workDir.path();
    QDir().mkpath(dir + QStringLiteral("/temp"));
    const QByteArray d = QFile::encodeName(dir);
    const QByteArray config = "master_process off;\n"
                              "error_log \"" +
                              d +
                              "/error.log\" warn;\n"
                              "events { worker_connections 256; }\n"
                              "http {\n"
                              "    access_log off;\n"
                              "    default_type application/octet-stream;\n"
                              "    sendfile on;\n"
                              "    tcp_nopush on;\n"
                              "    keepalive_requests 10000;\n"
                              "    client_body_temp_path \"" +
                              d +
                              "/temp/body\";\n"
                              "    proxy_temp_path \"" +
                              d +
                              "/temp/proxy\";\n"
                              "    fastcgi_temp_path \"" +
                              d +
                              "/temp/fastcgi\";\n"
                              "    uwsgi_temp_path \"" +
                              d +
                              "/temp/uwsgi\";\n"
                              "    scgi_temp_path \"" +
                              d +
                              "/temp/scgi\";\n"
                              "    " +
                              extraHttpConfig +
                              "\n"
                              "    server {\n"
                              "        listen 127.0.0.1:" +
                              QByteArray::number(listenPort) +
                              ";\n"
                              "        server_name localhost;\n"
                              "        root \"" +
                              QFile::encodeName(root) +
                              "\";\n"
                              "        " +
                              extraConfig +
                              "\n"
                              "    }\n"
                              "}\n";
    QFile file(dir + QStringLiteral("/nginx.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();

    process.setArguments({QStringLiteral("-p"), dir, QStringLiteral("-e"),
                          dir + QStringLiteral("/error.log"), QStringLiteral("-c"), file.fileName(),
                          QStringLiteral("-g"),
                          QStringLiteral("daemon off; pid %1/nginx.pid;").arg(dir)});
    process.start();
    if (!process.waitForStarted(5000)) {
        error = QStringLiteral("nginx did not start: %1").arg(process.errorString());
        return false;
    }
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (process.state() != QProcess::Running)
            break;
        if (acceptsConnections(listenPort))
            return true;
        QThread::msleep(20);
    }
    error = QStringLiteral("nginx is not serving on port %1: %2 %3")
                .arg(listenPort)
                .arg(QString::fromLocal8Bit(process.readAll()))
                .arg(QString::fromLocal8Bit(errorLog()));
    stop();
    return false;
}

void NginxServer::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QUrl NginxServer::url(const QString &target) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(listenPort).arg(target));
}

QByteArray NginxServer::errorLog() const
{
    QFile log(workDir.path() + QStringLiteral("/error.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}
