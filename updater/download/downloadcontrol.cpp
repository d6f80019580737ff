#include "downloadcontrol.h"

#include "downloadthread.h"
#include "replywatchdog.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QUrl>

DownloadControl::DownloadControl(QObject *parent)
    : QObject(parent), transferTimeout(DownloadThread::defaultTransferTimeout)
{}

DownloadControl::~DownloadControl() = default;

QString DownloadControl::errorText(QNetworkReply::NetworkError code, const QString &otherText)
{
    switch (code) {
    case QNetworkReply::RemoteHostClosedError:
        return tr("The connection has been broken,please login and download again");
    case QNetworkReply::HostNotFoundError:
        return tr("The server is not found,please check the network");
    case QNetworkReply::TimeoutError:
        return tr("The connection timeout,please check the download url");
    case QNetworkReply::ContentNotFoundError:
        return tr("The download file  is not found,please check the download url");
    default:
        return otherText;
    }
}

qint64 DownloadControl::getFileSize(const QString &url)
{
    QNetworkAccessManager manager;
    manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QUrl target(url);
    for (int redirects = 0;; ++redirects) {
        QNetworkReply *reply = manager.head(QNetworkRequest(target));
        auto watchdog = new ReplyWatchdog(reply, transferTimeout);
        QEventLoop loop;
        connect(reply, SIGNAL(finished()), &loop, SLOT(quit()));
        connect(watchdog, SIGNAL(expired()), reply, SLOT(abort()));
        connect(this, SIGNAL(destroyed()), &loop, SLOT(quit()));
        QPointer<DownloadControl> alive(this);
        loop.exec();
        // A deletion requested from another thread is carried out even inside
        // this nested loop.
        if (!alive)
            return -1;
        reply->deleteLater();

        if (reply->error() != QNetworkReply::NoError) {
            emit getFileSizeErrorSignal(watchdog->hasExpired()
                                            ? errorText(QNetworkReply::TimeoutError, QString())
                                            : errorText(reply->error(), reply->errorString()));
            return -1;
        }
        if (redirects > DownloadThread::redirectLimit) {
            emit getFileSizeErrorSignal(DownloadThread::hijackMessage());
            return -1;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!DownloadThread::isFollowedRedirect(status))
            return reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        target = QUrl(DownloadThread::redirectTarget(reply));
        qDebug() << "get file size redirect" << redirects + 1 << target.toString();
    }
}

bool DownloadControl::downloadFile(const QString &url, const QString &filePath, int threadCount)
{
    if (QThread::currentThread() != thread()) {
        bool started = false;
        QMetaObject::invokeMethod(
            this, [&] { started = downloadFile(url, filePath, threadCount); },
            Qt::BlockingQueuedConnection);
        return started;
    }

    if (state == Downloading || file)
        return false;
    this->url = url;
    this->filePath = filePath;
    this->threadCount = threadCount;
    QPointer<DownloadControl> alive(this);
    const qint64 size = getFileSize(url);
    if (!alive)
        return false;
    totalSize = size;
    if (totalSize == -1) {
        qDebug() << "get file size error";
        return false;
    }
    return startWorkers();
}

bool DownloadControl::startWorkers()
{
    downloadedSize = 0;
    file = new QFile(filePath, this);
    if (!file->open(QIODevice::WriteOnly)) {
        delete file;
        file = nullptr;
        return false;
    }
    // Sized once, so that every range lands inside the file whatever order
    // the ranges finish in.
    file->resize(totalSize);

    workers.clear();
    readySizes.fill(0, qMax(threadCount, 0));
    qDebug() << "totalSize " << totalSize;
    for (int i = 0; i < threadCount; ++i) {
        // The Range header names an inclusive last byte, so neighbouring
        // ranges share their boundary byte, and the last range names one byte
        // past the end, which the server clips.
        const qint64 start = totalSize * i / threadCount;
        const qint64 end = totalSize * (i + 1) / threadCount;
        qDebug() << "startPoint " << start;
        qDebug() << "endPoint " << end;
        auto worker = new DownloadThread(this);
        worker->setTransferTimeout(transferTimeout);
        connect(worker, SIGNAL(finished(int)), this, SLOT(finishedSlot(int)));
        connect(worker, SIGNAL(progressChange(int, qint64, qint64, qint64)), this,
                SLOT(progressChangeSlot(int, qint64, qint64, qint64)));
        connect(worker, SIGNAL(error(int, QString, bool)), this,
                SLOT(errorSlot(int, QString, bool)));
        worker->startDownload(i, url, file, start, end);
        workers.append(worker);
    }
    state = Downloading;
    remaining = threadCount;
    return true;
}

void DownloadControl::progressChangeSlot(int index, qint64 startPoint, qint64 endPoint,
                                         qint64 readySize)
{
    Q_UNUSED(startPoint)
    Q_UNUSED(endPoint)
    if (index < 0 || index >= readySizes.size())
        return;
    readySizes[index] = readySize;
    downloadedSize = 0;
    for (qint64 size : qAsConst(readySizes))
        downloadedSize += size;
    emit progressChange(0, 0, totalSize, downloadedSize);
}

void DownloadControl::finishedSlot(int index)
{
    Q_UNUSED(index)
    if (--remaining == 0)
        allPartsFinished();
}

void DownloadControl::allPartsFinished()
{
    if (state != Downloading)
        return;
    file->flush();
    file->close();
    file->deleteLater();
    file = nullptr;
    state = AllFinished;
    for (DownloadThread *worker : qAsConst(workers))
        worker->deleteLater();
    workers.clear();
    emit finished(0);
}

void DownloadControl::errorSlot(int index, QString errorString, bool isUploadLog)
{
    Q_UNUSED(index)
    if (errorReported)
        return;
    for (DownloadThread *worker : qAsConst(workers))
        worker->deleteLater();
    errorReported = true;
    state = Failed;
    emit error(errorString, isUploadLog);
}
