#include "download/downloadcontrol.h"

#include "download/downloadthread.h"
#include "download/replywatchdog.h"
#include "shared/connectchecked.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QUrl>

namespace {

// size * part / parts without the overflow of the product: exact for every
// size up to the largest qint64.
qint64 rangeBoundary(qint64 size, int part, int parts)
{
    return size / parts * part + size % parts * part / parts;
}

} // namespace

DownloadControl::DownloadControl(QObject *parent)
    : QObject(parent), transferTimeout(DownloadThread::defaultTransferTimeout),
      lowSpeedBytes(DownloadThread::defaultLowSpeedBytes),
      lowSpeedWindow(DownloadThread::defaultLowSpeedWindow)
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
        connectChecked(reply, SIGNAL(finished()), &loop, SLOT(quit()));
        connectChecked(watchdog, SIGNAL(expired()), reply, SLOT(abort()));
        connectChecked(this, SIGNAL(destroyed()), &loop, SLOT(quit()));
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
            // The same hijack as one met by a range, with the log upload.
            fail(DownloadThread::hijackMessage(), true);
            return -1;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!DownloadThread::isFollowedRedirect(status))
            return announcedSize(reply);
        target = QUrl(DownloadThread::redirectTarget(reply));
        if (target.isEmpty()) {
            qDebug() << "get file size refuses the redirect to" << reply->rawHeader("Location");
            emit getFileSizeErrorSignal(DownloadThread::refusedRedirectText());
            return -1;
        }
        qDebug() << "get file size redirect" << redirects + 1 << target.toString();
    }
}

qint64 DownloadControl::announcedSize(QNetworkReply *reply)
{
    if (!reply->hasRawHeader("Content-Length"))
        return 0;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 size = length.toLongLong();
    // -1 would pass for the failure value, other negative values make
    // malformed ranges, and huge ones overflow.
    if (!length.isValid() || size < 0 || size > maxFileSize) {
        qDebug() << "invalid Content-Length" << reply->rawHeader("Content-Length");
        emit getFileSizeErrorSignal(
            tr("The download file size is invalid,please check the download url"));
        return -1;
    }
    return size;
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

    if (state == Downloading || file || errorReported)
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
        // A hijacked address has been reported as a failed download.
        return errorReported;
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
    if (totalSize == 0) {
        // Nothing to fetch: a strict server refuses any range of an empty file.
        state = Downloading;
        remaining = 0;
        emit progressChange(0, 0, 0, 0);
        QMetaObject::invokeMethod(this, &DownloadControl::allPartsFinished, Qt::QueuedConnection);
        return true;
    }
    for (int i = 0; i < threadCount; ++i) {
        // The Range header names an inclusive last byte, so neighbouring
        // ranges share their boundary byte, and the last range names one byte
        // past the end, which the server clips.
        const qint64 start = rangeBoundary(totalSize, i, threadCount);
        const qint64 end = rangeBoundary(totalSize, i + 1, threadCount);
        qDebug() << "startPoint " << start;
        qDebug() << "endPoint " << end;
        auto worker = new DownloadThread(this);
        worker->setTransferTimeout(transferTimeout);
        worker->setLowSpeedLimit(lowSpeedBytes, lowSpeedWindow);
        worker->setFileSize(totalSize);
        connectChecked(worker, SIGNAL(finished(int)), this, SLOT(finishedSlot(int)));
        connectChecked(worker, SIGNAL(progressChange(int, qint64, qint64, qint64)), this,
                       SLOT(progressChangeSlot(int, qint64, qint64, qint64)));
        connectChecked(worker, SIGNAL(error(int, QString, bool)), this,
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
    fail(errorString, isUploadLog);
}

void DownloadControl::fail(const QString &errorString, bool isUploadLog)
{
    if (errorReported)
        return;
    for (DownloadThread *worker : qAsConst(workers))
        worker->deleteLater();
    errorReported = true;
    state = Failed;
    emit error(errorString, isUploadLog);
}
