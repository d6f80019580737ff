#pragma once

#include "download/downloadstate.h"
#include "download/resumerecord.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QVector>

class DownloadThread;
class QFile;
class QTimer;

// Downloads one remote file into one local file over several parallel ranged
// HTTP connections: asks for the size with HEAD, creates the file at that
// size, starts one DownloadThread per range, sums their progress and reports
// the completion of the whole file or the first failure. Reused for one file
// after the other; a coordinator that failed refuses further downloads.
//
// What a download has written is recorded beside the file (ResumeRecord)
// while it runs and when it fails, so that the next download of the same
// file, by this coordinator or another one, fetches only what is missing as
// long as the server still describes the same file. A finished download
// leaves no record; a failed write (a full disk) removes the file and its
// record, so that the next attempt finds the space again.
//
// The workers, their network managers and the target file always live in the
// coordinator's thread: downloadFile called from another thread runs there
// (the caller waits), so every object of a download is created, used and
// deleted in one thread, and deleting the coordinator after a failure ends
// its workers before the file is gone.
class DownloadControl : public QObject
{
    Q_OBJECT

public:
    explicit DownloadControl(QObject *parent = nullptr);
    ~DownloadControl() override;

    // True when the download has begun: its end comes as finished or error.
    // False when nothing was started; a failed size query has then emitted
    // getFileSizeErrorSignal. A file announced larger than `sizeLimit` (when
    // not negative) is refused without a signal, after a log line, before any
    // byte of it is read.
    bool downloadFile(const QString &url, const QString &filePath, int threadCount,
                      qint64 sizeLimit = -1);
    // Drops what an earlier download left of `filePath`, so that the next one
    // fetches it afresh: after its sum turned out wrong, a resume would only
    // keep the wrong bytes.
    static void discardPartialFile(const QString &filePath);
    // The remote file's size, following 301 and 302 to http addresses; -1
    // after emitting getFileSizeErrorSignal, or, when the redirects go on past
    // the limit, after failing the download with error(hijack text, true).
    qint64 getFileSize(const QString &url);
    // How long a request (HEAD or GET) may receive nothing before it fails.
    void setTransferTimeout(int milliseconds) { transferTimeout = milliseconds; }
    // A range that receives fewer than `bytes` in a window of `windowMs` fails
    // as timed out.
    void setLowSpeedLimit(qint64 bytes, int windowMs)
    {
        lowSpeedBytes = bytes;
        lowSpeedWindow = windowMs;
    }
    // The waits before a busy server is asked again (see DownloadThread).
    void setRetryDelays(int firstMs, int longestMs)
    {
        firstRetryDelay = firstMs;
        longestRetryDelay = longestMs;
    }

    // Announced sizes above this are refused: the range and progress
    // arithmetic stays far from overflowing.
    static constexpr qint64 maxFileSize = qint64(1) << 62;

    // Set by the first worker error and never cleared; read by the
    // controller, which ignores a completion report once it is set.
    bool errorReported = false;

signals:
    void finished(int index);
    void progressChange(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void getFileSizeErrorSignal(QString errorMessage);
    void error(QString errorString, bool isUploadLog);

private slots:
    void finishedSlot(int index);
    void progressChangeSlot(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void errorSlot(int index, QString errorString, bool isUploadLog);
    void wholeFileSlot(int index);
    void busySlot(int index);
    void saveRecord();

private:
    static QString errorText(QNetworkReply::NetworkError code, const QString &otherText);
    // The announced size of an answer that is not a redirect; -1 after
    // emitting getFileSizeErrorSignal when it is no usable size.
    qint64 announcedSize(QNetworkReply *reply);
    // Waits out a busy answer to the size query; false when the retries are spent.
    bool waitForBusyServer(QNetworkReply *reply, int *retries);
    // The spans still to fetch; opens the file, keeping its content when the
    // record of an earlier download says it can be resumed.
    bool openTarget(QVector<ResumeRecord::Span> *ranges);
    DownloadThread *startWorker(int index, qint64 start, qint64 end);
    bool startWorkers();
    void allPartsFinished();
    // The first failure of the download, reported once.
    void fail(const QString &errorString, bool isUploadLog);

    int state = Idle;
    QList<DownloadThread *> workers;
    QString url;
    QString filePath;
    int threadCount = 0;
    int remaining = 0;
    qint64 downloadedSize = 0;
    qint64 totalSize = 0;
    QFile *file = nullptr;
    QVector<qint64> readySizes; // latest readySize of each range, by index
    // The remote file as the size query found it, and what is on disk of it.
    ResumeRecord record;
    QTimer *recordTimer;
    QList<DownloadThread *> parkedWorkers;
    int transferTimeout;
    qint64 lowSpeedBytes;
    int lowSpeedWindow;
    int firstRetryDelay;
    int longestRetryDelay;
};
