#pragma once

#include "download/downloadstate.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QString>

class QNetworkAccessManager;
class QTimer;
class ReplyWatchdog;

// Fetches one byte range of a remote file with one ranged GET and writes the
// data into the shared, already open target file as it arrives, never past
// the file's announced size. Every answer is checked against the question: a
// 206 must carry the range asked for and deliver all of it, a 200 is the
// whole file (written from its start, see wholeFile), and the body of any
// other answer is never written and read only up to a small bound. Follows
// 301 and 302 to http addresses itself, up to a limit beyond which the
// address counts as hijacked. A busy server (503, 429, a refused connection)
// is asked again a few times, later each time.
//
// Not a thread: its slots run on the event loop of the thread it lives in,
// and every worker of one download lives in the same thread, so their writes
// into the shared file never interleave.
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
    // A busy server is asked again this many times; the waits start at the
    // first delay and double, and a wait the server asks for (Retry-After)
    // is kept to the longest delay.
    static const int busyRetries = 5;
    static const int defaultFirstRetryDelay = 1000;
    static const int defaultLongestRetryDelay = 30000;

    // [first byte, one past the last byte) of the target file.
    using Span = QPair<qint64, qint64>;

    explicit DownloadThread(QObject *parent = nullptr);

    void setTransferTimeout(int milliseconds) { transferTimeout = milliseconds; }
    void setLowSpeedLimit(qint64 bytes, int windowMs)
    {
        lowSpeedBytes = bytes;
        lowSpeedWindow = windowMs;
    }
    void setRetryDelays(int firstMs, int longestMs)
    {
        firstRetryDelay = firstMs;
        longestRetryDelay = longestMs;
    }
    // The announced size of the whole target file: bytes that would land at
    // or past it are dropped. Negative: no bound.
    void setFileSize(qint64 bytes) { fileSize = bytes; }

    // The bytes the current answer has written into the file so far.
    Span writtenSpan() const;
    // Waiting for a busy server or for a retry.
    bool isRunning() const;
    // Ends the range without any report: its request stops, no retry follows.
    void cancel();
    // Keeps a range whose busy retries are spent waiting, without failing it,
    // until retryBusyRange; called while the worker reports busy.
    void park() { parked = true; }
    // Asks a parked range's server again, with a new round of retries.
    void retryBusyRange();

    // Texts shared with the coordinator's size query.
    static QString hijackMessage();
    // A redirect without a usable target: no Location, or one that leaves http.
    static QString refusedRedirectText();
    // The server stayed busy through every retry.
    static QString busyText();
    static bool isFollowedRedirect(int httpStatus)
    {
        return httpStatus == 301 || httpStatus == 302;
    }
    static bool isBusyStatus(int httpStatus) { return httpStatus == 503 || httpStatus == 429; }
    // Where a redirect answer sends the request: an absolute Location as
    // received, a relative one resolved against the URL that sent it; empty
    // when the Location is missing or empty or names another scheme than http.
    static QString redirectTarget(QNetworkReply *reply);
    // How long to wait before asking a busy server again after `attempt`
    // earlier retries: its Retry-After (seconds or a date) when it sent one,
    // else a doubling back-off; never longer than `longestMs`.
    static int retryDelay(QNetworkReply *reply, int attempt, int firstMs, int longestMs);
    // The text of a failed answer with this status, as the network layer
    // words it when it reads the answer to its end.
    static QString statusText(QNetworkReply *reply);

signals:
    void finished(int index);
    void progressChange(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void error(int index, QString errorString, bool isUploadLog);
    void redirect(int _index, QString _url, QFile *_file, qint64 _startPoint, qint64 _endPoint);
    // The server answered the ranged request with the whole file (200), which
    // this worker now writes from the file's start; the other ranges are
    // not needed any more.
    void wholeFile(int index);
    // The server stayed busy through every retry. Unless the receiver parks
    // the worker, the range then fails with busyText().
    void busy(int index);

public slots:
    void finishedSlot();
    void downloadProcessSlot(qint64 bytesReceived, qint64 bytesTotal);
    void errorSlot(QNetworkReply::NetworkError code);
    void startDownload(int _index, QString _url, QFile *_file, qint64 _startPoint,
                       qint64 _endPoint);

private slots:
    void checkAnswer();
    void writeArrivedData();
    void transferTimedOut();
    void retryRange();

private:
    enum Answer
    {
        NoAnswerYet,
        PartAnswer,      // 206 with the range asked for
        WholeFileAnswer, // 200
        DroppedAnswer,   // any other: its body is not part of the file
    };

    static QString errorText(QNetworkReply::NetworkError code, const QString &otherText);
    int httpStatus() const;
    // Sorts the answer out once its header has arrived; false when the reply
    // has been dealt with (redirected, retried, failed or cancelled).
    bool answerTaken();
    bool acceptPart();
    void followRedirect(int status);
    void waitOutBusyServer(const QString &reason);
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
    ReplyWatchdog *watchdog = nullptr; // of reply
    int state = Idle;
    QString errorString;
    int redirectCount = 0;
    Answer answer = NoAnswerYet;
    qint64 writeStart = 0;      // where the answer's first body byte belongs
    qint64 expectedLength = -1; // of the answer's body; -1 when unknown
    qint64 received = 0;        // body bytes of the current answer taken for the file
    qint64 written = 0;         // of those, the bytes that fit into the file
    qint64 dropped = 0;         // body bytes of an answer that is not written
    bool pastFileEnd = false;
    qint64 fileSize = -1;
    int transferTimeout = defaultTransferTimeout;
    qint64 lowSpeedBytes = defaultLowSpeedBytes;
    int lowSpeedWindow = defaultLowSpeedWindow;
    int firstRetryDelay = defaultFirstRetryDelay;
    int longestRetryDelay = defaultLongestRetryDelay;
    int retriesUsed = 0;
    bool parked = false;
    QTimer *retryTimer;
};
