#pragma once

#include <QObject>

class QNetworkReply;
class QTimer;

// Watches one network reply and reports when it has received nothing (no
// header, no body data) for a given time, so that a server that stops
// sending cannot hold a download for ever. A child of the reply it watches.
class ReplyWatchdog : public QObject
{
    Q_OBJECT

public:
    ReplyWatchdog(QNetworkReply *reply, int timeoutMs);

    bool hasExpired() const { return expiredOnce; }

signals:
    void expired();

private slots:
    void restart();
    void expire();

private:
    QTimer *timer;
    bool expiredOnce = false;
};
