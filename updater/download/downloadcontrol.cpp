#include "download/downloadcontrol.h"

#include "download/downloadthread.h"
#include "download/replywatchdog.h"
#include "shared/connectchecked.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace {

// size * part / parts without the overflow of the product: exact for every
// size up to the largest qint64.
qint64 rangeBoundary(qint64 size, int part, int parts)
{
    return size / parts * part + size % parts * part / parts;
}

// How often a running download records what it has written: what a kill or
// a power cut can cost the next run.
const int recordInterval = 1000;

} // namespace

DownloadControl::DownloadControl(QObject *parent)
    : QObject(parent), recordTimer(new QTimer(this)),
      transferTimeout(DownloadThread::defaultTransferTimeout),
      lowSpeedBytes(DownloadThread::defaultLowSpeedBytes),
      lowSpeedWindow(DownloadThread::defaultLowSpeedWindow),
      firstRetryDelay(DownloadThread::defaultFirstRetryDelay),
      longestRetryDelay(DownloadThread::defaultLongestRetryDelay)
{
    recordTimer->setInterval(recordInterval);
    connectChecked(recordTimer, SIGNAL(timeout()), this, SLOT(saveRecord()));
}

DownloadControl::~DownloadControl()
{
    // Deleted while the ranges run (the updater ends): the next run resumes.
    if (state == Downloading)
        saveRecord();
}

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
    int busyRetries = 0;
    for (int redirects = 0;;) {
        QNetworkRequest request(target);
        // A compressing server announces no length, or the compressed one.
        request.setRawHeader("Accept-Encoding", "identity");
        QNetworkReply *reply = manager.head(request);
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

        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (DownloadThread::isBusyStatus(status)) {
            if (waitForBusyServer(reply, &busyRetries))
                continue;
            if (!alive)
                return -1;
            emit getFileSizeErrorSignal(DownloadThread::busyText());
            return -1;
        }
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
        if (!DownloadThread::isFollowedRedirect(status))
            return announcedSize(reply);
        target = QUrl(DownloadThread::redirectTarget(reply));
        if (target.isEmpty()) {
            qDebug() << "get file size refuses the redirect to" << reply->rawHeader("Location");
            emit getFileSizeErrorSignal(DownloadThread::refusedRedirectText());
            return -1;
        }
        ++redirects;
        qDebug() << "get file size redirect" << redirects << target.toString();
    }
}

bool DownloadControl::waitForBusyServer(QNetworkReply *reply, int *retries)
{
    if (*retries >= DownloadThread::busyRetries) {
        qDebug() << "get file size: server still busy" << reply->url().toString();
        return false;
    }
    const int delay =
        DownloadThread::retryDelay(reply, *retries, firstRetryDelay, longestRetryDelay);
    ++*retries;
    qDebug() << "get file size: server busy - asks again in" << delay << "ms";
    QEventLoop loop;
    QTimer::singleShot(delay, &loop, SLOT(quit()));
    connectChecked(this, SIGNAL(destroyed()), &loop, SLOT(quit()));
    QPointer<DownloadControl> alive(this);
    loop.exec();
    return alive;
}

qint64 DownloadControl::announcedSize(QNetworkReply *reply)
{
    record = ResumeRecord();
    record.url = url;
    record.etag = reply->rawHeader("ETag");
    record.lastModified = reply->rawHeader("Last-Modified");
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

bool DownloadControl::downloadFile(const QString &url, const QString &filePath, int threadCount,
                                   qint64 sizeLimit)
{
    if (QThread::currentThread() != thread()) {
        bool started = false;
        QMetaObject::invokeMethod(
            this, [&] { started = downloadFile(url, filePath, threadCount, sizeLimit); },
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
    if (sizeLimit >= 0 && totalSize > sizeLimit) {
        qDebug() << "download refused:" << url << "announces" << totalSize << "bytes, more than the"
                 << sizeLimit << "allowed";
        return false;
    }
    return startWorkers();
}

void DownloadControl::discardPartialFile(const QString &filePath)
{
    ResumeRecord::discard(filePath);
}

bool DownloadControl::openTarget(QVector<ResumeRecord::Span> *ranges)
{
    record.size = totalSize;
    const ResumeRecord earlier = ResumeRecord::read(filePath);
    const bool resumes = earlier.describesSameFile(record) && earlier.bytesDone() > 0 &&
                         QFileInfo(filePath).size() == totalSize;
    file = new QFile(filePath, this);
    // Without a record that fits, the file starts empty.
    if (!file->open(resumes ? QIODevice::ReadWrite : QIODevice::WriteOnly)) {
        delete file;
        file = nullptr;
        return false;
    }
    if (!resumes) {
        QFile::remove(ResumeRecord::recordPath(filePath));
        // Sized once, so that every range lands inside the file whatever
        // order the ranges finish in.
        file->resize(totalSize);
        // The Range header names an inclusive last byte, so neighbouring
        // ranges share their boundary byte, and the last range names one
        // byte past the end, which the server clips.
        for (int i = 0; i < threadCount && totalSize > 0; ++i)
            ranges->append({rangeBoundary(totalSize, i, threadCount),
                            rangeBoundary(totalSize, i + 1, threadCount)});
        return true;
    }
    record.spans = earlier.spans;
    qDebug() << "resumes" << filePath << "with" << record.bytesDone() << "of" << totalSize
             << "bytes on disk";
    for (const ResumeRecord::Span &missing : record.missingSpans(threadCount))
        ranges->append({missing.first, missing.second - 1});
    return true;
}

DownloadThread *DownloadControl::startWorker(int index, qint64 start, qint64 end)
{
    qDebug() << "startPoint " << start;
    qDebug() << "endPoint " << end;
    auto worker = new DownloadThread(this);
    worker->setTransferTimeout(transferTimeout);
    worker->setLowSpeedLimit(lowSpeedBytes, lowSpeedWindow);
    worker->setRetryDelays(firstRetryDelay, longestRetryDelay);
    worker->setFileSize(totalSize);
    connectChecked(worker, SIGNAL(finished(int)), this, SLOT(finishedSlot(int)));
    connectChecked(worker, SIGNAL(progressChange(int, qint64, qint64, qint64)), this,
                   SLOT(progressChangeSlot(int, qint64, qint64, qint64)));
    connectChecked(worker, SIGNAL(error(int, QString, bool)), this,
                   SLOT(errorSlot(int, QString, bool)));
    connectChecked(worker, SIGNAL(wholeFile(int)), this, SLOT(wholeFileSlot(int)));
    connectChecked(worker, SIGNAL(busy(int)), this, SLOT(busySlot(int)));
    worker->startDownload(index, url, file, start, end);
    return worker;
}

bool DownloadControl::startWorkers()
{
    QVector<ResumeRecord::Span> ranges;
    if (!openTarget(&ranges))
        return false;
    downloadedSize = record.bytesDone();

    workers.clear();
    parkedWorkers.clear();
    readySizes.fill(0, ranges.size());
    qDebug() << "totalSize " << totalSize;
    if (ranges.isEmpty()) {
        // Nothing to fetch (an empty file, or all of it on disk already): a
        // strict server refuses any range of an empty file.
        state = Downloading;
        remaining = 0;
        emit progressChange(0, 0, totalSize, downloadedSize);
        QMetaObject::invokeMethod(this, &DownloadControl::allPartsFinished, Qt::QueuedConnection);
        return true;
    }
    // Counted before the first worker starts: a worker may finish at once.
    remaining = ranges.size();
    for (int i = 0; i < ranges.size(); ++i)
        workers.append(startWorker(i, ranges.at(i).first, ranges.at(i).second));
    state = Downloading;
    recordTimer->start();
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
    downloadedSize = record.bytesDone();
    for (qint64 size : qAsConst(readySizes))
        downloadedSize += size;
    emit progressChange(0, 0, totalSize, downloadedSize);
}

void DownloadControl::finishedSlot(int index)
{
    Q_UNUSED(index)
    if (--remaining == 0) {
        allPartsFinished();
        return;
    }
    // A range that found the server busy tries again now that a connection
    // has been freed.
    const QList<DownloadThread *> parked = parkedWorkers;
    parkedWorkers.clear();
    for (DownloadThread *worker : parked)
        worker->retryBusyRange();
}

void DownloadControl::wholeFileSlot(int index)
{
    auto taker = qobject_cast<DownloadThread *>(sender());
    // The first whole answer is the file; every other range is not needed.
    for (int i = 0; i < workers.size(); ++i) {
        if (workers.at(i) == taker)
            continue;
        workers.at(i)->cancel();
        readySizes[i] = 0;
    }
    parkedWorkers.clear();
    remaining = 1;
    qDebug() << "range" << index << "takes the whole file; the other ranges stop";
}

void DownloadControl::busySlot(int index)
{
    auto worker = qobject_cast<DownloadThread *>(sender());
    for (DownloadThread *other : qAsConst(workers)) {
        if (other != worker && other->isRunning() && !parkedWorkers.contains(other)) {
            // Another range still holds a connection: this one waits for it.
            qDebug() << "range" << index << "waits for another range to end";
            worker->park();
            parkedWorkers.append(worker);
            return;
        }
    }
}

void DownloadControl::saveRecord()
{
    if (!file || !file->isOpen() || !file->flush())
        return;
    ResumeRecord current = record;
    for (DownloadThread *worker : qAsConst(workers))
        current.addSpan(worker->writtenSpan());
    current.write(filePath);
}

void DownloadControl::allPartsFinished()
{
    if (state != Downloading)
        return;
    recordTimer->stop();
    file->flush();
    file->close();
    file->deleteLater();
    file = nullptr;
    QFile::remove(ResumeRecord::recordPath(filePath));
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
    errorReported = true;
    recordTimer->stop();
    for (DownloadThread *worker : qAsConst(workers)) {
        worker->cancel();
        worker->deleteLater();
    }
    if (file && file->error() == QFileDevice::WriteError) {
        // Most likely a full disk: the partial file would hold the space that
        // the next run needs.
        qDebug() << "removes the partial file" << filePath << "after a failed write";
        file->close();
        ResumeRecord::discard(filePath);
    } else if (state == Downloading) {
        saveRecord();
    }
    state = Failed;
    emit error(errorString, isUploadLog);
}
