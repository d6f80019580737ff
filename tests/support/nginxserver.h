#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// A real nginx (/usr/sbin/nginx, never the system service) serving one
// directory on 127.0.0.1 and a free port, for tests and benchmarks. Its
// configuration, pid file and logs live in a temporary directory of its own.
// It runs as one foreground process (no daemon, no master process), which
// stop() and the destructor end by its process id.
//
//     NginxServer nginx(fixtureDir);
//     QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
//     QUrl u = nginx.url("/file.bin");
//
// Static files are served with Range support, as nginx does by default.
class NginxServer
{
public:
    explicit NginxServer(const QString &rootDirectory);
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // Directives added inside the server block, e.g. "location /old { return 302 /new; }".
    // Takes effect at the next start().
    void setExtraServerConfig(const QByteArray &directives);
    // Directives added inside the http block, e.g. a connection-limit zone.
    void setExtraHttpConfig(const QByteArray &directives);

    // Writes the configuration, starts nginx and waits until it accepts
    // connections. False (with errorString()) when it did not come up.
    bool start();
    void stop();

    bool isRunning() const { return process.state() == QProcess::Running; }
    quint16 port() const { return listenPort; }
    qint64 processId() const { return process.processId(); }
    // "http://127.0.0.1:<port>" followed by `target`, which starts with "/".
    QUrl url(const QString &target) const;
    QString errorString() const { return error; }
    // The error log so far, for failure messages.
    QByteArray errorLog() const;

private:
    bool startOnce();

    QString root;
    QByteArray extraConfig;
    QByteArray extraHttpConfig;
    QTemporaryDir workDir;
    QProcess process;
    quint16 listenPort = 0;
    QString error;
};
