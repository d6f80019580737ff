#pragma once

#include <QObject>

class QNetworkReply;
class QTimer;

// Watches one network reply and reports when it has received nothing (no
// header, no body data) for a given time, so that a server that stops
// sending cannot hold a download for ever; optionally also when the body
// arrives slower than a given number of bytes per time window, so that a
// server that trickles cannot either. A child of the reply it watches.
class ReplyWatchdog : public QObject
{
    Q_OBJECT

public:
    ReplyWatchdog(QNetworkReply *reply, int timeoutMs);

    // Expire when fewer than `bytes` body bytes arrive in a window of
    // `windowMs`; the windows follow each other from now on.
    void setLowSpeedLimit(qint64 bytes, int windowMs);

    bool hasExpired() const { return expiredOnce; }

signals:
    void expired();

private slots:
    void restart();
    void expire();
    void countReceived(qint64 bytesReceived);
    void checkSpeed();

private:
    QTimer *timer;
    QTimer *speedTimer = nullptr;
    qint64 lowSpeedBytes = 0;
    qint64 received = 0;
    qint64 receivedAtWindowStart = 0;
    bool expiredOnce = false;
};
