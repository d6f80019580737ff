#include "downloadthread.h"

#include "replywatchdog.h"
#include "vendorconfig.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
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
    connect(this, SIGNAL(redirect(int, QString, QFile *, qint64, qint64)), this,
            SLOT(startDownload(int, QString, QFile *, qint64, qint64)));
}

QString DownloadThread::hijackMessage()
{
    return tr("Your broadband service provider hijacked the download address, please download "
              "the latest version from <" VELMORA_WEB_HOST ">");
}

QString DownloadThread::redirectTarget(QNetworkReply *reply)
{
    const QString location = QString::fromUtf8(reply->rawHeader("Location"));
    const QUrl target(location);
    return target.isRelative() ? reply->url().resolved(target).toString() : location;
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
    written = 0;

    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Range",
                         QStringLiteral("bytes=%0-%1").arg(startPoint).arg(endPoint).toLatin1());
    reply = manager->get(request);
    // Data waits in the reply only until this slot's thread writes it; the
    // bound keeps a slow disk from piling the whole range up in memory.
    reply->setReadBufferSize(readBufferSize);
    connect(reply, SIGNAL(finished()), this, SLOT(finishedSlot()));
    connect(reply, SIGNAL(downloadProgress(qint64, qint64)), this,
            SLOT(downloadProcessSlot(qint64, qint64)));
    const bool errorConnected = connect(reply, SIGNAL(error(QNetworkReply::NetworkError)), this,
                                        SLOT(errorSlot(QNetworkReply::NetworkError)));
    connect(reply, SIGNAL(readyRead()), this, SLOT(writeArrivedData()));
    connect(new ReplyWatchdog(reply, transferTimeout), SIGNAL(expired()), this,
            SLOT(transferTimedOut()));
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

bool DownloadThread::isCutShort() const
{
    // The network layer may end a reply without an error when the server
    // closes the connection before the announced length; the range is then
    // incomplete all the same. A compressed body has another length.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply->rawHeader("Content-Encoding");
    return length.isValid() && (encoding.isEmpty() || encoding == "identity") &&
           written < length.toLongLong();
}

void DownloadThread::writeArrivedData()
{
    const QByteArray data = reply->readAll();
    if (data.isEmpty() || !writesBody())
        return;
    file->seek(startPoint + written);
    file->write(data);
    written += data.size();
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
        ++redirectCount;
        qDebug() << "###thread" << index << "--times" << redirectCount << ">>>>>>>redirect url"
                 << location;
        reply->deleteLater();
        state = Idle;
        emit redirect(index, redirectTarget(reply), file, startPoint, endPoint);
        return;
    }

    if (reply->error() == QNetworkReply::NoError) {
        writeArrivedData();
        if (isCutShort()) {
            fail(errorText(QNetworkReply::RemoteHostClosedError, QString()));
            return;
        }
        qDebug() << QStringLiteral("###########thread-%1 finish,size %2").arg(index).arg(written);
    } else {
        qDebug() << "----------------error:" << reply->errorString();
    }
    file->flush();
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
    // The reply is ended without reporting its own cancellation.
    reply->disconnect(this);
    reply->abort();
    fail(errorText(QNetworkReply::TimeoutError, QString()));
}

void DownloadThread::fail(const QString &text)
{
    errorString = text;
    state = Failed;
    qDebug() << QStringLiteral("-----------thread-%1 ").arg(index) << errorString;
    emit error(index, errorString, false);
}
