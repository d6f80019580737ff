#include "control/updatecontrol.h"

#include "control/acceptedreleases.h"
#include "control/deployment.h"
#include "download/downloadcontrol.h"
#include "package/bsdiffcontrol.h"
#include "package/uncompress.h"
#include "platform/platform.h"
#include "releasecontract/configsignature.h"
#include "releasecontract/filemd5.h"
#include "releasecontract/logfolder.h"
#include "releasecontract/relativepath.h"
#include "releasecontract/releaselayout.h"
#include "releasecontract/wrappedpath.h"
#include "setup/installjournal.h"
#include "setup/preparedmanifest.h"
#include "setup/setupplatform.h"
#include "shared/connectchecked.h"
#include "shared/vendorconfig.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonValue>
#include <QProcess>
#include <QThread>
#include <QUrl>

namespace {
// The configuration and its signature are read whole into memory: larger
// announced files are refused before a byte of them is fetched.
const qint64 configSizeLimit = 4 * 1024 * 1024;
} // namespace

UpdateControl::UpdateControl(QObject *parent) : QObject(parent)
{
    updateDir = LogFolder::workDirectory();
    QDir().mkpath(updateDir);

    deployFiles << QStringLiteral("Qt5Core.dll") << QStringLiteral("Qt5Network.dll")
                << QStringLiteral("Qt5Widgets.dll") << QStringLiteral("msvcr120.dll")
                << QStringLiteral("msvcp120.dll") << QStringLiteral("Qt5Gui.dll")
                << QStringLiteral("Qt5Svg.dll") << ReleaseLayout::setupProgram();
    // The run-time of programs built with MinGW (ours), which a setup program
    // started from the backup folder needs as much; absent files are skipped.
    deployFiles << QStringLiteral("libstdc++-6.dll") << QStringLiteral("libgcc_s_seh-1.dll")
                << QStringLiteral("libgcc_s_dw2-1.dll") << QStringLiteral("libwinpthread-1.dll");
    deployDirs << QStringLiteral("imageformats") << QStringLiteral("iconengines")
               << QStringLiteral("platforms");

    // The workers stay on this (the main) thread; the controller calls them
    // from its own thread.
    downloadControl = createDownloadControl();

    uncompress = new Uncompress(nullptr);
    connectChecked(uncompress, SIGNAL(UncompressPacketOKSignal()), this,
                   SLOT(UncompressPacketSuccessSlot()));
    connectChecked(uncompress, SIGNAL(UncompressPacketFailSignal()), this,
                   SLOT(UncompressPacketErrorSlot()));

    bsdiffControl = new BsdiffControl(nullptr);
    connectChecked(bsdiffControl, SIGNAL(bsdiffSuccessSignal()), this, SLOT(PatchSuccessSlot()));
    connectChecked(bsdiffControl, SIGNAL(bsdiffFailSignal(QString)), this,
                   SLOT(PatchErrorSlot(QString)));

    stage = PrepareConfig;
    connectChecked(this, SIGNAL(downloadSuccessSignal()), this, SLOT(mainControlSlot()));
    connectChecked(this, SIGNAL(uncompressSuccessSignal()), this, SLOT(mainControlSlot()));
    connectChecked(this, SIGNAL(uncompressFalilSignal()), this, SLOT(mainControlSlot()));
    connectChecked(this, SIGNAL(patchSuccessSignal()), this, SLOT(mainControlSlot()));
    connectChecked(this, SIGNAL(patchFailSignal()), this, SLOT(mainControlSlot()));
    connectChecked(this, SIGNAL(callTrellimSignal(QString)), this, SLOT(callTrellim(QString)));
    connectChecked(this, SIGNAL(callInstallerSignal()), this, SLOT(runInstaller()));
    connectChecked(this, SIGNAL(reStartUpdateSignal()), this, SLOT(reStartUpdateSlot()));

    launchFailures = 0;
    restartCount = 0;

    workerThread = new QThread;
    // The system knows the thread by this name (debuggers, scripts/crash-harness).
    workerThread->setObjectName(QStringLiteral("UpdateControl"));
    moveToThread(workerThread);
    workerThread->start(QThread::InheritPriority);
}

bool UpdateControl::connectWindow(QObject *window)
{
    const struct
    {
        const char *signal;
        const char *slot;
    } windowConnections[] = {
        {SIGNAL(progressChangeSignal(int, qint64, qint64, qint64)),
         SLOT(progressChangeSlot(int, qint64, qint64, qint64))},
        {SIGNAL(changeLabelTextSignal(QString)), SLOT(chanageLabelText(QString))},
        {SIGNAL(showMessageBoxSignal(QString, bool)), SLOT(showMessageBox(QString, bool))},
        {SIGNAL(showMovieSignal()), SLOT(showMovie())},
        {SIGNAL(hideMovieSignal()), SLOT(hideMovie())},
        {SIGNAL(exitSignal()), SLOT(closeAppSlot())},
    };
    // Every connection is tried, so that the log names each one that fails.
    bool connected = true;
    for (const auto &connection : windowConnections)
        connected = connectChecked(this, connection.signal, window, connection.slot) && connected;
    return connected;
}

QString UpdateControl::updateErrorText()
{
    return tr("Update error,It will jump to URL <" VELMORA_WEB_HOST
              ">.You can download newest version.Note that anti-virus software may intercept "
              "to jumping mistakenly");
}

void UpdateControl::mainControlSlot()
{
    switch (stage) {
    case PrepareConfig:
        // An update cut short leaves its journal in the installation: it is
        // finished first, so that nothing compares half-updated files.
        if (restartCount == 0 && !InstallJournal::finishInterruptedRun(installPath)) {
            qDebug() << "the installation is in doubt after an interrupted update, or another"
                     << "setup run holds it; nothing is changed";
            emit showMessageBoxSignal(updateErrorText(), true);
            break;
        }
        statementHeld = false;
        emit changeLabelTextSignal(tr("Preparing configuration file"));
        emit showMovieSignal();
        stage = DownloadingConfig;
        beginDownload();
        break;
    case ConfigReady:
        // A downloaded configuration waits for its signature when keys are
        // trusted; once the signature holds, the route is chosen.
        if (!trustedKeys.trimmed().isEmpty()) {
            beginConfigSignatureDownload();
            break;
        }
        chooseRoute();
        break;
    case ConfigSignatureReady:
        if (!configSignatureHolds())
            break;
        stage = ConfigReady;
        chooseRoute();
        break;
    case FixPacketReady:
        qDebug() << "download fixUpdatePacket Success";
        unpackIfMatches(fixUpdatePacketPath, config.fixUpdatePacketMd5, config.fixUpdatePacketUrl,
                        "Download FixUpdate Packet md5 is not match",
                        "json: fixUpdatePacket's md5 %1", "file: fixUpdatePacket's md5 %1",
                        UncompressingFixPacket);
        break;
    case PartialPacketReady:
        unpackIfMatches(partialPacketPath, config.partialPacketMd5, config.partialPacketUrl,
                        "Download Partial Packet md5 is not match", "json: PartialPacket's md5 %1",
                        "file: PartialPacket's md5 %1", UncompressingPartialPacket);
        break;
    case ReplacePacketReady:
        unpackIfMatches(replacePacketPath, config.replacePacketMd5, config.replacePacketUrl,
                        "Download Replace Packet md5 is not match", "json: replacePacket's md5 %1",
                        "file: replace Packet's md5 %1", UncompressingReplacePacket);
        break;
    case InstallerReady:
        // A wrong installer is not fetched again: the user is sent to the web site.
        if (!packetMatches(installerPath, config.installerMd5, config.installerUrl,
                           "Download installer md5 is not match", "json: installer's md5 %1",
                           "file: installer's md5 %1")) {
            emit showMessageBoxSignal(updateErrorText(), true);
            break;
        }
        runInstaller();
        break;
    case FixPacketUncompressed:
        launchSelfUpdate();
        break;
    case PartialPacketUncompressed:
        beginPatch();
        break;
    case ReplacePacketUncompressed:
    case PatchSucceeded:
        emit callTrellimSignal(outUncompressFilesPath);
        break;
    case PatchFailed:
        if (useFoundPacket(config.replacePacketMd5, &replacePacketPath, ReplacePacketReady))
            break;
        downloadUrl = config.replacePacketUrl;
        stage = DownloadingReplacePacket;
        emit changeLabelTextSignal(tr("Downloading,Please wait"));
        emit hideMovieSignal();
        beginDownload();
        break;
    default:
        // Also how the failed extractions (12, 15, 18) lead to a restart.
        emit reStartUpdateSignal();
        break;
    }
}

void UpdateControl::beginConfigSignatureDownload()
{
    QUrl signatureUrl(configUrl);
    signatureUrl.setPath(signatureUrl.path() + QStringLiteral(".sig"));
    downloadUrl = signatureUrl.toString();
    stage = DownloadingConfigSignature;
    beginDownload();
}

bool UpdateControl::configSignatureHolds()
{
    // The channel is the name the configuration was asked for under, which a
    // statement for another configuration cannot name.
    const QString channel = QUrl(configUrl).fileName(QUrl::FullyDecoded);
    const AcceptedReleases accepted(LogFolder::acceptedReleasesPath());
    QString reason;
    if (!ConfigSignature::verifyFiles(configFilePath, configSignaturePath, trustedKeys, &reason,
                                      &statement) ||
        !statement.admits(channel, version, QDateTime::currentDateTimeUtc(),
                          accepted.newestSigned(installPath), &reason)) {
        refuseConfiguration(reason);
        return false;
    }
    qDebug() << "update config signature verified";
    qDebug() << "release statement" << statement.version
             << statement.signedAt.toString(Qt::ISODateWithMs)
             << (statement.expiresAt.isValid() ? statement.expiresAt.toString(Qt::ISODateWithMs)
                                               : QStringLiteral("never"));
    // Kept before anything is installed, so that no older release is taken
    // afterwards, whatever becomes of this update.
    if (!accepted.accept(installPath, statement.signedAt, &reason))
        qDebug() << "the accepted release cannot be kept:" << reason;
    statementHeld = true;
    return true;
}

// A configuration without a good signature is not read: like one that cannot
// be read, it costs a restart, and the restart limit ends the update.
void UpdateControl::refuseConfiguration(const QString &reason)
{
    qDebug() << "update config signature refused:" << reason;
    emit reStartUpdateSignal();
}

void UpdateControl::chooseRoute()
{
    config.configPath = configFilePath;
    if (!QFileInfo::exists(configFilePath)) {
        qDebug() << "Download update config is not exist";
        emit reStartUpdateSignal();
        return;
    }
    if (!skipFix && checkSelfUpdate())
        return;

    // The installer is required in every configuration, also for the patch route.
    if (!config.getInstallerInfo(osTag)) {
        qDebug() << "Get Installer Info error";
        emit reStartUpdateSignal();
        return;
    }

    if (config.getPartialPacketInfo(osTag, version)) {
        // A replace packet left by an earlier failed patch run is used at once.
        if (useFoundPacket(config.replacePacketMd5, &replacePacketPath, ReplacePacketReady) ||
            useFoundPacket(config.partialPacketMd5, &partialPacketPath, PartialPacketReady))
            return;
        downloadUrl = config.partialPacketUrl;
        stage = DownloadingPartialPacket;
    } else {
        qDebug() << "get PartialPacket Info error";
        if (useFoundPacket(config.installerMd5, &installerPath, InstallerReady))
            return;
        downloadUrl = config.installerUrl;
        stage = DownloadingInstaller;
    }
    emit changeLabelTextSignal(tr("Downloading,Please wait"));
    emit hideMovieSignal();
    beginDownload();
}

bool UpdateControl::checkSelfUpdate()
{
    qDebug() << "Check whether get newest update packet";
    if (!config.getFixUpdateInfo(osTag)) {
        qDebug() << "Get FixUpdatePacket Info error";
        emit reStartUpdateSignal();
        return true;
    }
    for (const QJsonValue &usedVersion : qAsConst(config.fixUpdateUesedVersion)) {
        if (usedVersion.toString() != version)
            continue;
        fixUpdateDir = installPath + QLatin1Char('/') + ReleaseLayout::selfUpdateFolder();
        SetupPlatform::removeLinksOnPath(installPath, ReleaseLayout::selfUpdateFolder());
        QDir().mkpath(fixUpdateDir);
        if (useFoundPacket(config.fixUpdatePacketMd5, &fixUpdatePacketPath, FixPacketReady))
            return true;
        downloadUrl = config.fixUpdatePacketUrl;
        stage = DownloadingFixPacket;
        emit changeLabelTextSignal(tr("Preparing new update program"));
        beginDownload();
        return true;
    }
    return false;
}

void UpdateControl::launchSelfUpdate()
{
    qDebug() << "outUncompressFilesPath" << outUncompressFilesPath;
    if (!copyDirectory(outUncompressFilesPath, fixUpdateDir, true)) {
        qDebug() << "copy fixUpdate Files failed";
        emit reStartUpdateSignal();
        return;
    }
    // The copy skips the self-update check and appends to this run's log.
    const QString program = fixUpdateDir + QLatin1Char('/') + ReleaseLayout::updaterProgram();
    const QStringList arguments{QStringLiteral("-skipfix"), version, configUrl,
                                WrappedPath::wrap(installPath), logFileName};
    if (!startHandOff("updateProcess", program, arguments, "start update",
                      "===========start update failed"))
        emit reStartUpdateSignal();
}

bool UpdateControl::packetMatches(const QString &path, const QByteArray &expected,
                                  const QString &url, const char *mismatchLine,
                                  const char *jsonText, const char *fileText) const
{
    const QByteArray actual = fileMd5(path);
    QString reason;
    if (actual == expected && (!statementHeld || statement.coversFile(url, path, &reason)))
        return true;
    // Fetched afresh next time: resuming would keep the wrong bytes, and a
    // packet found again by its MD5 would be refused again.
    DownloadControl::discardPartialFile(path);
    if (actual != expected) {
        qDebug() << mismatchLine;
        qDebug() << QString::fromLatin1(jsonText).arg(QString::fromUtf8(expected))
                 << QString::fromLatin1(fileText).arg(QString::fromUtf8(actual));
    } else {
        qDebug() << "release statement refused the file:" << reason;
    }
    return false;
}

void UpdateControl::unpackIfMatches(const QString &path, const QByteArray &expected,
                                    const QString &url, const char *mismatchLine,
                                    const char *jsonText, const char *fileText,
                                    UpdateStage unpackingStage)
{
    if (!packetMatches(path, expected, url, mismatchLine, jsonText, fileText)) {
        emit reStartUpdateSignal();
        return;
    }
    currentPacketPath = path;
    stage = unpackingStage;
    beginUncompress();
}

bool UpdateControl::useFoundPacket(const QByteArray &sum, QString *packetPath,
                                   UpdateStage readyStage)
{
    const QString found = findPacketByMd5(updateDir, sum);
    if (found.isEmpty())
        return false;
    *packetPath = found;
    stage = readyStage;
    emit downloadSuccessSignal();
    return true;
}

void UpdateControl::beginDownload()
{
    if (!checkDownloadUrl()) {
        emit changeLabelTextSignal(tr("Download url is error"));
        return;
    }
    threadCount = 6;
    const QString fileName = QUrl(downloadUrl).fileName(QUrl::FullyDecoded);
    downloadTarget = updateDir + QLatin1Char('/') + fileName;
    // The download writes into whatever stands at its target.
    SetupPlatform::removeLinksOnPath(updateDir, fileName);
    // A coordinator that refuses to start without a word (the target cannot
    // be created, or it is still busy) would leave the update waiting for ever.
    sizeQueryFailed = false;
    // A signed release names the size of every file it brings.
    const qint64 sizeLimit = stage == DownloadingConfig            ? configSizeLimit
                             : stage == DownloadingConfigSignature ? ConfigSignature::largestFile
                             : statementHeld ? statement.sizes.value(downloadUrl, -1)
                                             : -1;
    // A refused size costs a restart, like a configuration that cannot be read.
    if (!downloadControl->downloadFile(downloadUrl, downloadTarget, threadCount, sizeLimit) &&
        !sizeQueryFailed) {
        qDebug() << "start download failed" << downloadTarget;
        emit reStartUpdateSignal();
    }
}

bool UpdateControl::checkDownloadUrl()
{
    const QUrl url(downloadUrl, QUrl::TolerantMode);
    // The file name becomes the download target inside the work folder; an
    // empty one names the folder itself and is left to the download.
    const QString fileName = url.fileName(QUrl::FullyDecoded);
    const bool leavesWorkFolder = !fileName.isEmpty() && !staysInsideFolder(fileName);
    if (url.path(QUrl::FullyDecoded).isEmpty() || url.scheme() != QLatin1String("http") ||
        !url.isValid() || leavesWorkFolder) {
        emit showMessageBoxSignal(tr("Download url is error,Please login and download again"),
                                  false);
        return false;
    }
    return true;
}

QString UpdateControl::findPacketByMd5(const QString &folder, const QByteArray &sum) const
{
    // The last match in name order wins. Sums come from the cache where a file
    // is unchanged; the packet taken is checked by its real sum when ready.
    return packetSums.findByMd5(folder, sum);
}

void UpdateControl::beginUncompress()
{
    qDebug() << "uncompressing";
    emit showMovieSignal();
    emit changeLabelTextSignal(tr("Updating program"));
    uncompress->archivePath = currentPacketPath;
    uncompress->targetDir = updateDir;
    const QFileInfo packet(currentPacketPath);
    outUncompressFilesPath =
        packet.path() + QLatin1Char('/') + ReleaseLayout::packetFolderName(packet.fileName());
    qDebug() << "outUncompressFilesPath" << outUncompressFilesPath;
    uncompress->uncompressPacket();
}

void UpdateControl::beginPatch()
{
    qDebug() << "start patch";
    stage = Patching;
    bsdiffControl->modifyList = config.modify;
    bsdiffControl->oldDir = installPath;
    bsdiffControl->patchDir = outUncompressFilesPath;
    bsdiffControl->newDir = outUncompressFilesPath;
    bsdiffControl->applyPatchList();
}

void UpdateControl::finishedSlot(int index)
{
    if (!downloadControl || downloadControl->errorReported || index != 0)
        return;
    switch (stage) {
    case DownloadingConfig:
        stage = ConfigReady;
        configFilePath = downloadTarget;
        break;
    case DownloadingConfigSignature:
        stage = ConfigSignatureReady;
        configSignaturePath = downloadTarget;
        break;
    case DownloadingFixPacket:
        stage = FixPacketReady;
        fixUpdatePacketPath = downloadTarget;
        break;
    case DownloadingPartialPacket:
        stage = PartialPacketReady;
        partialPacketPath = downloadTarget;
        break;
    case DownloadingReplacePacket:
        stage = ReplacePacketReady;
        replacePacketPath = downloadTarget;
        break;
    case DownloadingInstaller:
        stage = InstallerReady;
        installerPath = downloadTarget;
        break;
    default:
        break;
    }
    emit downloadSuccessSignal();
}

DownloadControl *UpdateControl::createDownloadControl()
{
    auto *coordinator = new DownloadControl(nullptr);
    connectChecked(coordinator, SIGNAL(finished(int)), this, SLOT(finishedSlot(int)));
    connectChecked(coordinator, SIGNAL(progressChange(int, qint64, qint64, qint64)), this,
                   SIGNAL(progressChangeSignal(int, qint64, qint64, qint64)));
    connectChecked(coordinator, SIGNAL(getFileSizeErrorSignal(QString)), this,
                   SLOT(getDownloadFileSizeErrorSlot(QString)));
    connectChecked(coordinator, SIGNAL(error(QString, bool)), this,
                   SLOT(DownloadErrorSlot(QString, bool)));
    // The size query reports its failure before downloadFile returns; a direct
    // connection lets beginDownload know that a false result was reported.
    connectChecked(coordinator, SIGNAL(getFileSizeErrorSignal(QString)), this,
                   SLOT(sizeQueryFailedSlot()), Qt::DirectConnection);
    return coordinator;
}

void UpdateControl::renewDownloadControl()
{
    // The new one lives where the first one did, so that downloads keep
    // running on the same thread.
    QThread *coordinatorThread = downloadControl ? downloadControl->thread() : thread();
    discardDownloadControl();
    downloadControl = createDownloadControl();
    downloadControl->moveToThread(coordinatorThread);
}

bool UpdateControl::signatureDownloadFailed(const QString &reason)
{
    if (stage != DownloadingConfigSignature)
        return false;
    // Unlike any other failed download this one ends in a restart, which
    // needs a coordinator that takes downloads again.
    renewDownloadControl();
    refuseConfiguration(reason);
    return true;
}

void UpdateControl::discardDownloadControl()
{
    if (downloadControl)
        downloadControl->deleteLater();
    downloadControl = nullptr;
}

void UpdateControl::DownloadErrorSlot(QString errorString, bool isUploadLog)
{
    if (signatureDownloadFailed(QStringLiteral("its download failed: %1").arg(errorString)))
        return;
    discardDownloadControl();
    emit showMessageBoxSignal(tr("%1").arg(errorString), isUploadLog);
}

void UpdateControl::getDownloadFileSizeErrorSlot(QString errorMessage)
{
    if (signatureDownloadFailed(QStringLiteral("it cannot be fetched: %1").arg(errorMessage)))
        return;
    discardDownloadControl();
    emit changeLabelTextSignal(tr("Get download file size error"));
    emit showMessageBoxSignal(tr("%1").arg(errorMessage), false);
}

void UpdateControl::sizeQueryFailedSlot()
{
    sizeQueryFailed = true;
}

void UpdateControl::UncompressPacketErrorSlot()
{
    switch (stage) {
    case UncompressingFixPacket:
        stage = FixPacketUncompressFailed;
        qDebug() << "UncompressFixUpdatePacketFailed ";
        break;
    case UncompressingPartialPacket:
        stage = PartialPacketUncompressFailed;
        qDebug() << "UncompressPartialPacketFailed ";
        break;
    case UncompressingReplacePacket:
        stage = ReplacePacketUncompressFailed;
        qDebug() << "UncompressReplacePacketFailed ";
        break;
    default:
        break;
    }
    emit uncompressFalilSignal();
}

void UpdateControl::UncompressPacketSuccessSlot()
{
    switch (stage) {
    case UncompressingFixPacket:
        stage = FixPacketUncompressed;
        qDebug() << "UncompressFixUpdatePacketSuccess ";
        break;
    case UncompressingPartialPacket:
        stage = PartialPacketUncompressed;
        qDebug() << "UncompressPartialPacketSuccess ";
        break;
    case UncompressingReplacePacket:
        stage = ReplacePacketUncompressed;
        qDebug() << "UncompressReplacePacketSuccess ";
        break;
    default:
        break;
    }
    emit uncompressSuccessSignal();
}

void UpdateControl::PatchSuccessSlot()
{
    qDebug() << "patch success!";
    stage = PatchSucceeded;
    emit patchSuccessSignal();
}

void UpdateControl::PatchErrorSlot(QString errorText)
{
    qDebug() << "patch failed:" << errorText;
    qDebug() << "****<file>*****<filepatch>*****<oldFileMd5>****<newFileMd5>************";
    for (auto it = config.modify.cbegin(); it != config.modify.cend(); ++it)
        qDebug() << it.key() << it->filePatch << it->oldFileMd5 << it->newFileMd5;
    qDebug() << QByteArray(82, '*').constData();
    stage = PatchFailed;
    emit patchFailSignal();
}

void UpdateControl::callTrellim(QString packetPath)
{
    if (launchFailures >= 5) {
        emit showMessageBoxSignal(updateErrorText(), true);
        return;
    }
    QThread::msleep(500);

    backupPath = installPath + QLatin1Char('/') + ReleaseLayout::backupFolder();
    const Deployment deployment(installPath, backupPath);
    deployment.rebuildBackupFolder();
    // The setup program runs from the backup folder, with the run-time it
    // needs, while the installation's own files are replaced. A self-updated
    // copy brought its own and skips this.
    Deployment::Failure failure;
    if ((!skipFix && (!deployment.deployFiles(deployFiles, &failure) ||
                      !deployment.deployFolders(deployDirs, &failure))) ||
        !deployment.backUpModifiedFiles(config.modify, &failure)) {
        retryHandOff(packetPath, failure);
        return;
    }
    removeFilesWithSuffix(packetPath, ReleaseLayout::patchSuffix());
    removeFilesWithSuffix(backupPath, QStringLiteral("bak"));
    // The setup program installs nothing but the files these sums describe.
    QString error;
    if (!PreparedManifest::write(packetPath, osTag, version, &error)) {
        retryHandOff(packetPath, {"Write prepared sums error:", error});
        return;
    }
    startTrellim(packetPath);
}

void UpdateControl::retryHandOff(const QString &packetPath, const Deployment::Failure &failure)
{
    ++launchFailures;
    qDebug() << failure.text << failure.name;
    logPermissions(backupPath);
    // Runs nested on this thread; every failure counts, so the limit of
    // failed attempts bounds the depth.
    emit callTrellimSignal(packetPath);
}

bool UpdateControl::startHandOff(const char *programText, const QString &program,
                                 const QStringList &arguments, const char *startedText,
                                 const char *failedText)
{
    qDebug() << programText << program;
    qDebug() << "arguments" << arguments;
    QString errorText;
    if (Platform::startOutlivingProcess(program, arguments, &errorText)) {
        qDebug() << startedText;
        emit exitSignal();
        return true;
    }
    qDebug() << failedText << errorText;
    return false;
}

void UpdateControl::startTrellim(const QString &packetPath)
{
    // A self-updated copy starts the setup program that came with it.
    const QString folder =
        skipFix ? installPath + QLatin1Char('/') + ReleaseLayout::selfUpdateFolder() : backupPath;
    const QString program = folder + QLatin1Char('/') + ReleaseLayout::setupProgram();
    const QStringList arguments{WrappedPath::wrap(installPath), WrappedPath::wrap(packetPath),
                                logFileName, QFileInfo(configFilePath).fileName(), version};
    if (startHandOff("program", program, arguments, "start Trellim success",
                     "start Trellim failed"))
        return;
    ++launchFailures;
    emit callTrellimSignal(packetPath);
}

bool UpdateControl::copyDirectory(const QString &source, const QString &target, bool compareFirst)
{
    return Deployment::copyDirectory(source, target, compareFirst);
}

void UpdateControl::removeFilesWithSuffix(const QString &folder, const QString &suffix)
{
    Deployment::removeFilesWithSuffix(folder, suffix);
}

void UpdateControl::logPermissions(const QString &folder)
{
    Deployment::logPermissions(folder);
}

void UpdateControl::reStartUpdateSlot()
{
    if (restartCount >= 5) {
        emit showMessageBoxSignal(updateErrorText(), true);
        return;
    }
    qDebug() << ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> ReStart Update";
    downloadUrl = configUrl;
    ++restartCount;
    stage = PrepareConfig;
    mainControlSlot();
}

void UpdateControl::runInstaller()
{
    if (launchFailures >= 5) {
        emit showMessageBoxSignal(updateErrorText(), true);
        return;
    }
    const QStringList arguments{QStringLiteral("/VERYSILENT"),
                                QStringLiteral("/DIR=") + installPath};
    if (startHandOff("installer", installerPath, arguments, "start installer success",
                     "start installer failed"))
        return;
    ++launchFailures;
    emit callInstallerSignal();
}
