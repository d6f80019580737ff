#pragma once

#include "control/deployment.h"
#include "control/packetsumcache.h"
#include "releasecontract/releasestatement.h"
#include "releasecontract/updateconfig.h"

#include <QObject>
#include <QString>
#include <QStringList>

class BsdiffControl;
class DownloadControl;
class QThread;
class Uncompress;

// Drives one update from the configuration download to the hand-off as a
// stage machine: `stage` says where the update stands and mainControlSlot()
// does the work of the current stage whenever a step has finished. The window
// learns what to show only through signals. After the first stage, which the
// window runs directly, every slot runs on the controller's own workerThread.
class UpdateControl : public QObject
{
    Q_OBJECT

public:
    // Odd stages below 10 wait for a download; 11, 14 and 17 for an
    // extraction; 20 for the patch worker.
    enum UpdateStage
    {
        PrepareConfig = 0,
        DownloadingConfig = 1,
        ConfigReady = 2,
        DownloadingFixPacket = 3,
        FixPacketReady = 4,
        DownloadingPartialPacket = 5,
        PartialPacketReady = 6,
        DownloadingReplacePacket = 7,
        ReplacePacketReady = 8,
        DownloadingInstaller = 9,
        InstallerReady = 10,
        UncompressingFixPacket = 11,
        FixPacketUncompressFailed = 12,
        FixPacketUncompressed = 13,
        UncompressingPartialPacket = 14,
        PartialPacketUncompressFailed = 15,
        PartialPacketUncompressed = 16,
        UncompressingReplacePacket = 17,
        ReplacePacketUncompressFailed = 18,
        ReplacePacketUncompressed = 19,
        Patching = 20,
        PatchSucceeded = 21,
        PatchFailed = 22,
        // Only with trusted keys compiled in: the configuration's signature is
        // fetched and checked before anything reads the configuration.
        DownloadingConfigSignature = 23,
        ConfigSignatureReady = 24,
    };

    // Creates the workers on the calling thread, then moves the controller to
    // a thread of its own and starts it.
    explicit UpdateControl(QObject *parent = nullptr);

    // Connects the six window signals to the slots of the same names on
    // `window` (the update window, or anything that stands in for it); false
    // when one of them could not be connected.
    bool connectWindow(QObject *window);

    // The update-error text, shown whenever a limit of five is reached or the
    // installer's sum differs.
    static QString updateErrorText();

    // The deployment's folder operations under the names the hand-off uses
    // (see Deployment).
    static bool copyDirectory(const QString &source, const QString &target, bool compareFirst);
    static void removeFilesWithSuffix(const QString &folder, const QString &suffix);
    static void logPermissions(const QString &folder);

    // Restored into downloadUrl on every restart.
    QString configUrl;
    QString downloadUrl;
    QString osTag;
    QString version;
    QString installPath;
    QString logFileName;
    // Work folder: packets are downloaded and unpacked here.
    QString updateDir;
    QString backupPath;
    // True for the copy started by a self-update: no second self-update.
    bool skipFix = false;
    // The vendor's Ed25519 public keys, one of which must have signed the
    // configuration (see ConfigSignature); empty: no signature is asked for.
    QString trustedKeys;
    UpdateConfig config;
    int stage = PrepareConfig;
    BsdiffControl *bsdiffControl = nullptr;
    Uncompress *uncompress = nullptr;
    // Deleted, and cleared here, after a failed download.
    DownloadControl *downloadControl = nullptr;
    int threadCount = 0;
    QString downloadTarget;
    QString configFilePath;
    QString installerPath;
    QString partialPacketPath;
    QString fixUpdatePacketPath;
    QString replacePacketPath;
    QString fixUpdateDir;
    QString currentPacketPath;
    QString outUncompressFilesPath;
    QString configSignaturePath;
    // Failed hand-off attempts, shared by every way of handing off; never reset.
    int launchFailures = 0;
    // Restarts of the whole update; never reset.
    int restartCount = 0;
    // Never stopped: it lives as long as the process.
    QThread *workerThread = nullptr;
    QStringList deployFiles;
    QStringList deployDirs;

signals:
    void downloadSuccessSignal();
    void uncompressSuccessSignal();
    void uncompressFalilSignal();
    void patchSuccessSignal();
    void patchFailSignal();
    void callTrellimSignal(QString packetPath);
    void callInstallerSignal();
    void progressChangeSignal(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void changeLabelTextSignal(QString text);
    void showMessageBoxSignal(QString text, bool isUploadLog);
    void showMovieSignal();
    void hideMovieSignal();
    void exitSignal();
    void reStartUpdateSignal();

public slots:
    void finishedSlot(int index);
    void DownloadErrorSlot(QString errorString, bool isUploadLog);
    void getDownloadFileSizeErrorSlot(QString errorMessage);
    void UncompressPacketErrorSlot();
    void UncompressPacketSuccessSlot();
    void PatchSuccessSlot();
    void PatchErrorSlot(QString errorText);
    void mainControlSlot();
    void callTrellim(QString packetPath);
    void reStartUpdateSlot();
    void runInstaller();

private slots:
    void sizeQueryFailedSlot();

private:
    void chooseRoute();
    // True when it ended the route choice: the self-update route was taken or
    // a restart was requested.
    bool checkSelfUpdate();
    void launchSelfUpdate();
    // A copy that prepares the hand-off failed: one more failed attempt, and
    // the whole hand-off is tried again.
    void retryHandOff(const QString &packetPath, const Deployment::Failure &failure);
    void startTrellim(const QString &packetPath);
    // Starts a program that takes over from this updater (the setup program,
    // the installer, the self-updated copy) with the log lines of its kind;
    // once it runs, the window ends this process.
    bool startHandOff(const char *programText, const QString &program, const QStringList &arguments,
                      const char *startedText, const char *failedText);
    // Compares the packet's sum with the configuration's and, under a release
    // statement, its SHA-256 with the statement's for `url`; logs a mismatch.
    bool packetMatches(const QString &path, const QByteArray &expected, const QString &url,
                       const char *mismatchLine, const char *jsonText, const char *fileText) const;
    // A packet whose sums match is unpacked in `unpackingStage`; otherwise the
    // update restarts.
    void unpackIfMatches(const QString &path, const QByteArray &expected, const QString &url,
                         const char *mismatchLine, const char *jsonText, const char *fileText,
                         UpdateStage unpackingStage);
    // A packet already in the work folder with the sum `sum` is taken as
    // downloaded: it becomes *packetPath and the update goes on in `readyStage`.
    bool useFoundPacket(const QByteArray &sum, QString *packetPath, UpdateStage readyStage);
    void beginDownload();
    bool checkDownloadUrl();
    QString findPacketByMd5(const QString &folder, const QByteArray &sum) const;
    void beginUncompress();
    void beginPatch();
    void discardDownloadControl();
    // A new coordinator in place of one that failed, for the update to go on.
    void renewDownloadControl();
    DownloadControl *createDownloadControl();
    void beginConfigSignatureDownload();
    bool configSignatureHolds();
    void refuseConfiguration(const QString &reason);
    // True when the failed download was the configuration's signature, which
    // is then refused like a bad one.
    bool signatureDownloadFailed(const QString &reason);

    // The signed statement of the configuration being used; only with
    // trusted keys, once the statement has been accepted.
    ReleaseStatement statement;
    bool statementHeld = false;
    // Set while downloadFile runs when the size query reported its failure.
    bool sizeQueryFailed = false;
    // Sums of the work folder's files, kept across lookups and runs.
    mutable PacketSumCache packetSums;
};
