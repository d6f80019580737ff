#include "download/downloadthread.h"

#include "download/replywatchdog.h"
#include "shared/connectchecked.h"
#include "shared/vendorconfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrl>

namespace {

// Bytes a reply may hold before the network layer stops reading from the
// socket; measured as fast as larger buffers, at a fraction of the memory.
const qint64 readBufferSize = 256 * 1024;

} // namespace

DownloadThread::DownloadThread(QObject *parent)
    : QObject(parent), manager(new QNetworkAccessManager(this))
{
    // The signals may cross threads through queued connections.
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    qRegisterMetaType<QFile *>("QFile*");
    // Redirects must reach the worker, which follows only 301 and 302.
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connectChecked(this, SIGNAL(redirect(int, QString, QFile *, qint64, qint64)), this,
                   SLOT(startDownload(int, QString, QFile *, qint64, qint64)));
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
    received = 0;
    written = 0;
    pastFileEnd = false;

    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Range",
                         QStringLiteral("bytes=%0-%1").arg(startPoint).arg(endPoint).toLatin1());
    reply = manager->get(request);
    // Data waits in the reply only until this slot's thread writes it; the
    // bound keeps a slow disk from piling the whole range up in memory.
    reply->setReadBufferSize(readBufferSize);
    connectChecked(reply, SIGNAL(finished()), this, SLOT(finishedSlot()));
    connectChecked(reply, SIGNAL(downloadProgress(qint64, qint64)), this,
                   SLOT(downloadProcessSlot(qint64, qint64)));
    const bool errorConnected = connectChecked(reply, SIGNAL(error(QNetworkReply::NetworkError)),
                                               this, SLOT(errorSlot(QNetworkReply::NetworkError)));
    connectChecked(reply, SIGNAL(readyRead()), this, SLOT(writeArrivedData()));
    auto watchdog = new ReplyWatchdog(reply, transferTimeout);
    watchdog->setLowSpeedLimit(lowSpeedBytes, lowSpeedWindow);
    connectChecked(watchdog, SIGNAL(expired()), this, SLOT(transferTimedOut()));
    qDebug() << QStringLiteral("###########thread-%1 downloadThread connect: ").arg(index)
             << errorConnected;

    state = Downloading;
    emit progressChange(index, startPoint, endPoint, readySize);
}

bool DownloadThread::writesBody() const
{
    // The body of a redirect, of an error status and of the answer taken as a
    // hijack is never part of the file.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return state == Downloading && redirectCount <= redirectLimit && !isFollowedRedirect(status) &&
           status < 400;
}

qint64 DownloadThread::expectedBodyLength() const
{
    // A compressed body has another length than the one announced.
    const QByteArray encoding = reply->rawHeader("Content-Encoding");
    if (!encoding.isEmpty() && encoding != "identity")
        return -1;
    if (!reply->rawHeader("Transfer-Encoding").toLower().contains("chunked")) {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        return length.isValid() ? length.toLongLong() : -1;
    }
    // A chunked body announces no length: a part is as long as its
    // Content-Range says, a whole entity as the file.
    static const QRegularExpression partPattern(QStringLiteral("^bytes (\\d+)-(\\d+)/"));
    const QRegularExpressionMatch part =
        partPattern.match(QString::fromLatin1(reply->rawHeader("Content-Range")));
    if (part.hasMatch())
        return part.captured(2).toLongLong() - part.captured(1).toLongLong() + 1;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status == 200 ? fileSize : -1;
}

bool DownloadThread::isCutShort() const
{
    // The network layer may end a reply without an error when the server
    // closes the connection before the end of the body; the range is then
    // incomplete all the same.
    const qint64 expected = expectedBodyLength();
    return expected >= 0 && received < expected;
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
    const QByteArray data = reply->readAll();
    if (data.isEmpty() || !writesBody())
        return true;
    const qint64 offset = startPoint + received;
    received += data.size();
    qint64 length = data.size();
    if (fileSize >= 0 && offset + length > fileSize) {
        // A server that ignores the range or sends more than it announced
        // must not fill the disk.
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
    if (redirectCount > redirectLimit) {
        state = Failed;
        emit error(index, hijackMessage(), true);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qDebug() << "###thread" << index << "http_status" << status;

    if (isFollowedRedirect(status)) {
        const QString location = QString::fromUtf8(reply->rawHeader("Location"));
        const QString target = redirectTarget(reply);
        if (target.isEmpty()) {
            qDebug() << "###thread" << index << "refuses the redirect to" << location;
            fail(refusedRedirectText());
            return;
        }
        ++redirectCount;
        qDebug() << "###thread" << index << "--times" << redirectCount << ">>>>>>>redirect url"
                 << location;
        reply->deleteLater();
        state = Idle;
        emit redirect(index, target, file, startPoint, endPoint);
        return;
    }

    if (reply->error() == QNetworkReply::NoError) {
        if (!takeArrivedData())
            return;
        if (!pastFileEnd && isCutShort()) {
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
    if (code == QNetworkReply::NoError)
        return;
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
    reply->disconnect(this);
    reply->abort();
}

void DownloadThread::fail(const QString &text)
{
    errorString = text;
    state = Failed;
    qDebug() << QStringLiteral("-----------thread-%1 ").arg(index) << errorString;
    emit error(index, errorString, false);
}
