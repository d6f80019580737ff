#include "replywatchdog.h"

#include <QNetworkReply>
#include <QTimer>

ReplyWatchdog::ReplyWatchdog(QNetworkReply *reply, int timeoutMs)
    : QObject(reply), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setInterval(timeoutMs);
    connect(timer, SIGNAL(timeout()), this, SLOT(expire()));
    connect(reply, SIGNAL(metaDataChanged()), this, SLOT(restart()));
    connect(reply, SIGNAL(readyRead()), this, SLOT(restart()));
    connect(reply, SIGNAL(downloadProgress(qint64, qint64)), this, SLOT(restart()));
    connect(reply, SIGNAL(uploadProgress(qint64, qint64)), this, SLOT(restart()));
    connect(reply, SIGNAL(finished()), timer, SLOT(stop()));
    timer->start();
}

void ReplyWatchdog::restart()
{
    timer->start();
}

void ReplyWatchdog::expire()
{
    expiredOnce = true;
    emit expired();
}
