#pragma once

#include "downloadstate.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// Fetches one byte range of a remote file with one ranged GET and writes the
// data into the shared, already open target file at the range's offset as it
// arrives. Follows 301 and 302 itself, up to a limit beyond which the address
// counts as hijacked. Not a thread: its slots run on the event loop of the
// thread it lives in, and every worker of one download lives in the same
// thread, so their writes into the shared file never interleave.
class DownloadThread : public QObject
{
    Q_OBJECT

public:
    // Redirects followed before the next answer is taken as a hijack.
    static const int redirectLimit = 10;
    // A request that receives nothing for this long ends as a time-out.
    static const int defaultTransferTimeout = 30000;

    explicit DownloadThread(QObject *parent = nullptr);

    void setTransferTimeout(int milliseconds) { transferTimeout = milliseconds; }

    // Texts shared with the coordinator's size query.
    static QString hijackMessage();
    static bool isFollowedRedirect(int httpStatus)
    {
        return httpStatus == 301 || httpStatus == 302;
    }
    // Where a redirect answer sends the request: an absolute Location as
    // received, a relative one resolved against the URL that sent it.
    static QString redirectTarget(QNetworkReply *reply);

signals:
    void finished(int index);
    void progressChange(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void error(int index, QString errorString, bool isUploadLog);
    void redirect(int _index, QString _url, QFile *_file, qint64 _startPoint, qint64 _endPoint);

public slots:
    void finishedSlot();
    void downloadProcessSlot(qint64 bytesReceived, qint64 bytesTotal);
    void errorSlot(QNetworkReply::NetworkError code);
    void startDownload(int _index, QString _url, QFile *_file, qint64 _startPoint,
                       qint64 _endPoint);

private slots:
    void writeArrivedData();
    void transferTimedOut();

private:
    static QString errorText(QNetworkReply::NetworkError code, const QString &otherText);
    bool writesBody() const;
    bool isCutShort() const;
    void fail(const QString &text);

    int index = 0;
    qint64 startPoint = 0;
    qint64 endPoint = 0;
    qint64 readySize = 0;
    QString url;
    QFile *file = nullptr;
    QNetworkAccessManager *manager;
    QNetworkReply *reply = nullptr;
    int state = Idle;
    QString errorString;
    int redirectCount = 0;
    qint64 written = 0; // bytes of the current request written to the file
    int transferTimeout = defaultTransferTimeout;
};
