#include "download/replywatchdog.h"

#include "shared/connectchecked.h"

#include <QNetworkReply>
#include <QTimer>

ReplyWatchdog::ReplyWatchdog(QNetworkReply *reply, int timeoutMs)
    : QObject(reply), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setInterval(timeoutMs);
    connectChecked(timer, SIGNAL(timeout()), this, SLOT(expire()));
    connectChecked(reply, SIGNAL(metaDataChanged()), this, SLOT(restart()));
    connectChecked(reply, SIGNAL(readyRead()), this, SLOT(restart()));
    connectChecked(reply, SIGNAL(downloadProgress(qint64, qint64)), this, SLOT(restart()));
    connectChecked(reply, SIGNAL(downloadProgress(qint64, qint64)), this,
                   SLOT(countReceived(qint64)));
    connectChecked(reply, SIGNAL(uploadProgress(qint64, qint64)), this, SLOT(restart()));
    connectChecked(reply, SIGNAL(finished()), timer, SLOT(stop()));
    timer->start();
}

void ReplyWatchdog::setLowSpeedLimit(qint64 bytes, int windowMs)
{
    if (!speedTimer) {
        speedTimer = new QTimer(this);
        connectChecked(speedTimer, SIGNAL(timeout()), this, SLOT(checkSpeed()));
        connectChecked(parent(), SIGNAL(finished()), speedTimer, SLOT(stop()));
    }
    lowSpeedBytes = bytes;
    receivedAtWindowStart = received;
    speedTimer->start(windowMs);
}

void ReplyWatchdog::restart()
{
    timer->start();
}

void ReplyWatchdog::expire()
{
    timer->stop();
    if (speedTimer)
        speedTimer->stop();
    expiredOnce = true;
    emit expired();
}

void ReplyWatchdog::countReceived(qint64 bytesReceived)
{
    received = bytesReceived;
}

void ReplyWatchdog::checkSpeed()
{
    if (received - receivedAtWindowStart < lowSpeedBytes) {
        expire();
        return;
    }
    receivedAtWindowStart = received;
}
