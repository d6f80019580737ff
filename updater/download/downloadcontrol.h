#pragma once

#include "downloadstate.h"

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

    // True when the workers have been started; false when nothing was started.
    bool downloadFile(const QString &url, const QString &filePath, int threadCount);
    // The remote file's size, following 301 and 302; -1 after emitting
    // getFileSizeErrorSignal.
    qint64 getFileSize(const QString &url);
    // How long a request (HEAD or GET) may receive nothing before it fails.
    void setTransferTimeout(int milliseconds) { transferTimeout = milliseconds; }

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
    bool startWorkers();
    void allPartsFinished();

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
};
