#pragma once

#include "download/downloadstate.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QVector>

class DownloadThread;
class QFile;

// Downloads one remote file into one local file over several parallel ranged
// HTTP connections: asks for the size with HEAD, creates the file at that
// size, starts one DownloadThread per range, sums their progress and reports
// the completion of the whole file or the first failure. Reused for one file
// after the other; a coordinator that failed refuses further downloads.
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
    // getFileSizeErrorSignal.
    bool downloadFile(const QString &url, const QString &filePath, int threadCount);
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

private:
    static QString errorText(QNetworkReply::NetworkError code, const QString &otherText);
    // The announced size of an answer that is not a redirect; -1 after
    // emitting getFileSizeErrorSignal when it is no usable size.
    qint64 announcedSize(QNetworkReply *reply);
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
    int transferTimeout;
    qint64 lowSpeedBytes;
    int lowSpeedWindow;
};
