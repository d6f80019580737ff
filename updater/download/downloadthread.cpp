#include "download/downloadthread.h"

#include "download/replywatchdog.h"
#include "shared/connectchecked.h"
#include "shared/vendorconfig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

namespace {

// Bytes a reply may hold before the network layer stops reading from the
// socket; measured as fast as larger buffers, at a fraction of the memory.
const qint64 readBufferSize = 256 * 1024;
// Bytes of an answer that is not written (an error page, a redirect that is
// not followed) read before the request is ended: enough for any real error
// page, and a body that never ends cannot hold the download.
const qint64 droppedBodyLimit = 8 * 1024;

} // namespace

DownloadThread::DownloadThread(QObject *parent)
    : QObject(parent), manager(new QNetworkAccessManager(this)), retryTimer(new QTimer(this))
{
    // The signals may cross threads through queued connections.
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    qRegisterMetaType<QFile *>("QFile*");
    // Redirects must reach the worker, which follows only 301 and 302.
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connectChecked(this, SIGNAL(redirect(int, QString, QFile *, qint64, qint64)), this,
                   SLOT(startDownload(int, QString, QFile *, qint64, qint64)));
    retryTimer->setSingleShot(true);
    connectChecked(retryTimer, SIGNAL(timeout()), this, SLOT(retryRange()));
}

QString DownloadThread::hijackMessage()
{
    return tr("Your broadband service provider hijacked the download address, please download "
              "the latest version from <" VELMORA_WEB_HOST ">");
}

QString DownloadThread::refusedRedirectText()
{
    // Qt's own text for the redirects it refuses to follow itself.
    return QCoreApplication::translate("QHttp", "Unknown protocol specified");
}

QString DownloadThread::busyText()
{
    return tr("The server is busy,please try again later");
}

QString DownloadThread::redirectTarget(QNetworkReply *reply)
{
    const QString location = QString::fromUtf8(reply->rawHeader("Location")).trimmed();
    if (location.isEmpty())
        return QString();
    const QUrl target = reply->url().resolved(QUrl(location));
    // Only plain http, as for the first address: another scheme could make the
    // download read a local file or talk to something that is no web server.
    if (target.scheme() != QLatin1String("http"))
        return QString();
    return QUrl(location).isRelative() ? target.toString() : location;
}

int DownloadThread::retryDelay(QNetworkReply *reply, int attempt, int firstMs, int longestMs)
{
    const QByteArray retryAfter = reply->rawHeader("Retry-After").trimmed();
    bool isNumber = false;
    const qint64 seconds = retryAfter.toLongLong(&isNumber);
    if (isNumber && seconds >= 0)
        return int(qMin<qint64>(seconds * 1000, longestMs));
    const QDateTime date = QLocale::c().toDateTime(
        QString::fromLatin1(retryAfter), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (date.isValid()) {
        QDateTime utc = date;
        utc.setTimeSpec(Qt::UTC);
        const qint64 wait = QDateTime::currentDateTimeUtc().msecsTo(utc);
        return int(qBound<qint64>(0, wait, longestMs));
    }
    return int(qMin<qint64>(qint64(firstMs) << qMin(attempt, 20), longestMs));
}

QString DownloadThread::statusText(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 404)
        return errorText(QNetworkReply::ContentNotFoundError, QString());
    return QCoreApplication::translate("QNetworkReply",
                                       "Error transferring %1 - server replied: %2")
        .arg(reply->url().toString(),
             reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
}

QString DownloadThread::errorText(QNetworkReply::NetworkError code, const QString &otherText)
{
    switch (code) {
    case QNetworkReply::RemoteHostClosedError:
        return tr("The connection has been broken,please login and download again");
    case QNetworkReply::HostNotFoundError:
        return tr("The server is not found,please check the network");
    case QNetworkReply::TimeoutError:
        return tr("The connection timeout,please check the download url");
    case QNetworkReply::ContentNotFoundError:
        return tr("The download file is not found,please check the download url");
    default:
        return otherText;
    }
}

void DownloadThread::startDownload(int _index, QString _url, QFile *_file, qint64 _startPoint,
                                   qint64 _endPoint)
{
    if (state == Downloading)
        return;
    index = _index;
    url = _url;
    file = _file;
    startPoint = _startPoint;
    endPoint = _endPoint;
    readySize = 0;
    answer = NoAnswerYet;
    writeStart = startPoint;
    expectedLength = -1;
    received = 0;
    written = 0;
    dropped = 0;
    pastFileEnd = false;

    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Range",
                         QStringLiteral("bytes=%0-%1").arg(startPoint).arg(endPoint).toLatin1());
    // The bytes must arrive as they are on the server: a compressed answer
    // has another length and other offsets than the file.
    request.setRawHeader("Accept-Encoding", "identity");
    reply = manager->get(request);
    // Data waits in the reply only until this slot's thread writes it; the
    // bound keeps a slow disk from piling the whole range up in memory.
    reply->setReadBufferSize(readBufferSize);
    connectChecked(reply, SIGNAL(metaDataChanged()), this, SLOT(checkAnswer()));
    connectChecked(reply, SIGNAL(finished()), this, SLOT(finishedSlot()));
    connectChecked(reply, SIGNAL(downloadProgress(qint64, qint64)), this,
                   SLOT(downloadProcessSlot(qint64, qint64)));
    const bool errorConnected = connectChecked(reply, SIGNAL(error(QNetworkReply::NetworkError)),
                                               this, SLOT(errorSlot(QNetworkReply::NetworkError)));
    connectChecked(reply, SIGNAL(readyRead()), this, SLOT(writeArrivedData()));
    watchdog = new ReplyWatchdog(reply, transferTimeout);
    watchdog->setLowSpeedLimit(lowSpeedBytes, lowSpeedWindow);
    connectChecked(watchdog, SIGNAL(expired()), this, SLOT(transferTimedOut()));
    qDebug() << QStringLiteral("###########thread-%1 downloadThread connect: ").arg(index)
             << errorConnected;

    state = Downloading;
    emit progressChange(index, startPoint, endPoint, readySize);
}

int DownloadThread::httpStatus() const
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void DownloadThread::checkAnswer()
{
    if (state == Downloading && answer == NoAnswerYet)
        answerTaken();
}

bool DownloadThread::answerTaken()
{
    if (answer != NoAnswerYet)
        return state == Downloading;
    if (redirectCount > redirectLimit) {
        // Whatever the answer after the last redirect allowed, even a 200.
        stopReply();
        state = Failed;
        emit error(index, hijackMessage(), true);
        return false;
    }
    const int status = httpStatus();
    if (isFollowedRedirect(status)) {
        followRedirect(status);
        return false;
    }
    if (isBusyStatus(status)) {
        waitOutBusyServer(QString::number(status));
        return false;
    }
    if (status == 206)
        return acceptPart();
    if (status == 200) {
        // The server ignored the range: its body is the file from byte 0, and
        // one stream of it is enough.
        answer = WholeFileAnswer;
        writeStart = 0;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        expectedLength = fileSize >= 0 ? fileSize : length.isValid() ? length.toLongLong() : -1;
        qDebug() << "###thread" << index << "takes the whole file: the server ignored the range";
        emit wholeFile(index);
        return state == Downloading;
    }
    answer = DroppedAnswer;
    return true;
}

bool DownloadThread::acceptPart()
{
    static const QRegularExpression partPattern(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"));
    const QByteArray contentRange = reply->rawHeader("Content-Range").trimmed();
    const QRegularExpressionMatch part = partPattern.match(QString::fromLatin1(contentRange));
    const qint64 first = part.captured(1).toLongLong();
    const qint64 last = part.captured(2).toLongLong();
    const qint64 total = part.captured(3).toLongLong();
    // The server clips the last byte asked for to the end of the file.
    const bool asked = fileSize >= 0 ? total == fileSize && last == qMin(endPoint, fileSize - 1)
                                     : last <= endPoint && last < total;
    if (!part.hasMatch() || first != startPoint || !asked) {
        qDebug() << "###thread" << index << "Content-Range" << contentRange
                 << "does not answer bytes" << startPoint << endPoint;
        stopReply();
        fail(errorText(QNetworkReply::RemoteHostClosedError, QString()));
        return false;
    }
    answer = PartAnswer;
    writeStart = first;
    expectedLength = last - first + 1;
    return true;
}

void DownloadThread::followRedirect(int status)
{
    qDebug() << "###thread" << index << "http_status" << status;
    const QString location = QString::fromUtf8(reply->rawHeader("Location"));
    const QString target = redirectTarget(reply);
    // The body of a redirect is never read.
    stopReply();
    if (target.isEmpty()) {
        qDebug() << "###thread" << index << "refuses the redirect to" << location;
        fail(refusedRedirectText());
        return;
    }
    ++redirectCount;
    qDebug() << "###thread" << index << "--times" << redirectCount << ">>>>>>>redirect url"
             << location;
    state = Idle;
    emit redirect(index, target, file, startPoint, endPoint);
}

void DownloadThread::waitOutBusyServer(const QString &reason)
{
    const int delay = retryDelay(reply, retriesUsed, firstRetryDelay, longestRetryDelay);
    stopReply();
    state = Idle;
    if (retriesUsed < busyRetries) {
        ++retriesUsed;
        qDebug() << "###thread" << index << "server busy:" << reason << "- asks again in" << delay
                 << "ms";
        retryTimer->start(delay);
        return;
    }
    qDebug() << "###thread" << index << "server still busy:" << reason;
    emit busy(index);
    if (!parked && state == Idle)
        fail(busyText());
}

void DownloadThread::retryRange()
{
    startDownload(index, url, file, startPoint, endPoint);
}

void DownloadThread::retryBusyRange()
{
    if (!parked)
        return;
    parked = false;
    retriesUsed = 0;
    retryRange();
}

DownloadThread::Span DownloadThread::writtenSpan() const
{
    return {writeStart, writeStart + written};
}

bool DownloadThread::isRunning() const
{
    return state == Downloading || retryTimer->isActive() || parked;
}

void DownloadThread::cancel()
{
    retryTimer->stop();
    parked = false;
    if (state == Downloading)
        stopReply();
    state = Idle;
}

bool DownloadThread::isCutShort() const
{
    // The network layer may end a reply without an error when the server
    // closes the connection before the end of the body; the range is then
    // incomplete all the same.
    return expectedLength >= 0 && received < expectedLength;
}

bool DownloadThread::writeAt(qint64 offset, const char *data, qint64 length)
{
    if (!file->seek(offset))
        return false;
    // A short write (the disk filled up on the way) says why only when the
    // rest is tried.
    for (qint64 done = 0; done < length;) {
        const qint64 count = file->write(data + done, length - done);
        if (count <= 0)
            return false;
        done += count;
    }
    return true;
}

bool DownloadThread::takeArrivedData()
{
    if (!answerTaken())
        return false;
    const QByteArray data = reply->readAll();
    if (data.isEmpty())
        return true;
    if (answer == DroppedAnswer) {
        dropped += data.size();
        if (dropped <= droppedBodyLimit)
            return true;
        qDebug() << "###thread" << index << "ends an answer" << httpStatus()
                 << "whose body goes on past" << droppedBodyLimit << "bytes";
        const QString text = statusText(reply);
        stopReply();
        fail(text);
        return false;
    }
    const qint64 offset = writeStart + received;
    received += data.size();
    qint64 length = data.size();
    if (fileSize >= 0 && offset + length > fileSize) {
        // A server that sends more than it announced must not fill the disk.
        length = qMax<qint64>(0, fileSize - offset);
        if (!pastFileEnd)
            qDebug() << QStringLiteral("###########thread-%1 drops the bytes past the end of the "
                                       "file, from offset")
                            .arg(index)
                     << fileSize;
        pastFileEnd = true;
    }
    if (length > 0 && !writeAt(offset, data.constData(), length)) {
        stopReply();
        fail(file->errorString());
        return false;
    }
    written += length;
    return true;
}

void DownloadThread::writeArrivedData()
{
    if (!takeArrivedData() || !pastFileEnd)
        return;
    // Whatever else comes has no place in the file.
    stopReply();
    finishRange();
}

void DownloadThread::finishedSlot()
{
    if (state != Downloading)
        return;
    if (reply->error() == QNetworkReply::NoError && !answerTaken())
        return;
    const int status = httpStatus();
    qDebug() << "###thread" << index << "http_status" << status;

    if (reply->error() == QNetworkReply::NoError) {
        if (!takeArrivedData())
            return;
        if (answer == DroppedAnswer) {
            // A redirect that is not followed, or another status that is no
            // part of the file.
            fail(statusText(reply));
            return;
        }
        if (!pastFileEnd && isCutShort()) {
            qDebug() << "###thread" << index << "received" << received << "of" << expectedLength
                     << "bytes";
            fail(errorText(QNetworkReply::RemoteHostClosedError, QString()));
            return;
        }
    } else {
        qDebug() << "----------------error:" << reply->errorString();
    }
    finishRange();
}

void DownloadThread::finishRange()
{
    // Buffered writes reach the disk here at the latest.
    if (!file->flush()) {
        fail(file->errorString());
        return;
    }
    qDebug() << QStringLiteral("###########thread-%1 finish,size %2").arg(index).arg(written);
    reply->deleteLater();
    manager->deleteLater();
    state = PartFinished;
    emit finished(index);
}

void DownloadThread::downloadProcessSlot(qint64 bytesReceived, qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal)
    readySize = bytesReceived;
    emit progressChange(index, startPoint, endPoint, readySize);
}

void DownloadThread::errorSlot(QNetworkReply::NetworkError code)
{
    if (code == QNetworkReply::NoError || state != Downloading)
        return;
    // A refused extra connection is how some servers say they are busy.
    if (code == QNetworkReply::ConnectionRefusedError || isBusyStatus(httpStatus())) {
        waitOutBusyServer(reply->errorString());
        return;
    }
    fail(errorText(reply->error(), reply->errorString()));
}

void DownloadThread::transferTimedOut()
{
    if (state != Downloading)
        return;
    stopReply();
    fail(errorText(QNetworkReply::TimeoutError, QString()));
}

void DownloadThread::stopReply()
{
    // Deleting the reply ends its request; an abort would report a second
    // error for an answer whose error status the network layer already holds.
    reply->disconnect(this);
    watchdog->disconnect(this);
    reply->deleteLater();
}

void DownloadThread::fail(const QString &text)
{
    errorString = text;
    state = Failed;
    qDebug() << QStringLiteral("-----------thread-%1 ").arg(index) << errorString;
    emit error(index, errorString, false);
}
