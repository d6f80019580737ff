#pragma once

#include "download/downloadstate.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// Fetches one byte range of a remote file with one ranged GET and writes the
// data into the shared, already open target file at the range's offset as it
// arrives, never past the file's announced size. Follows 301 and 302 to
// http addresses itself, up to a limit beyond which the address counts as
// hijacked. Not a thread: its slots run on the event loop of the thread it
// lives in, and every worker of one download lives in the same thread, so
// their writes into the shared file never interleave.
class DownloadThread : public QObject
{
    Q_OBJECT

public:
    // Redirects followed before the next answer is taken as a hijack.
    static const int redirectLimit = 10;
    // A request that receives nothing for this long ends as a time-out.
    static const int defaultTransferTimeout = 30000;
    // So does one that receives fewer bytes than this in one window of this
    // many milliseconds.
    static constexpr qint64 defaultLowSpeedBytes = 1024;
    static constexpr int defaultLowSpeedWindow = 60000;

    explicit DownloadThread(QObject *parent = nullptr);

    void setTransferTimeout(int milliseconds) { transferTimeout = milliseconds; }
    void setLowSpeedLimit(qint64 bytes, int windowMs)
    {
        lowSpeedBytes = bytes;
        lowSpeedWindow = windowMs;
    }
    // The announced size of the whole target file: bytes that would land at
    // or past it are dropped. Negative: no bound.
    void setFileSize(qint64 bytes) { fileSize = bytes; }

    // Texts shared with the coordinator's size query.
    static QString hijackMessage();
    // A redirect without a usable target: no Location, or one that leaves http.
    static QString refusedRedirectText();
    static bool isFollowedRedirect(int httpStatus)
    {
        return httpStatus == 301 || httpStatus == 302;
    }
    // Where a redirect answer sends the request: an absolute Location as
    // received, a relative one resolved against the URL that sent it; empty
    // when the Location is missing or empty or names another scheme than http.
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
    // The length the body of the current answer should have; -1 when unknown.
    qint64 expectedBodyLength() const;
    bool isCutShort() const;
    bool writeAt(qint64 offset, const char *data, qint64 length);
    // Writes what has arrived; false when the write failed and the range with it.
    bool takeArrivedData();
    // Ends the request without reporting its cancellation.
    void stopReply();
    void finishRange();
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
    qint64 received = 0; // body bytes of the current request taken for the file
    qint64 written = 0;  // of those, the bytes that fit into the file
    bool pastFileEnd = false;
    qint64 fileSize = -1;
    int transferTimeout = defaultTransferTimeout;
    qint64 lowSpeedBytes = defaultLowSpeedBytes;
    int lowSpeedWindow = defaultLowSpeedWindow;
};
