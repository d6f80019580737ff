#include "updatecontrol.h"

#include "applicationdataroot.h"
#include "bsdiffcontrol.h"
#include "downloadcontrol.h"
#include "filemd5.h"
#include "platform.h"
#include "uncompress.h"
#include "vendorconfig.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonValue>
#include <QProcess>
#include <QThread>
#include <QUrl>

UpdateControl::UpdateControl(QObject *parent) : QObject(parent)
{
    updateDir = applicationDataRoot() + QStringLiteral("/Velmora/update");
    QDir().mkpath(updateDir);

    deployFiles << QStringLiteral("Qt5Core.dll") << QStringLiteral("Qt5Network.dll")
                << QStringLiteral("Qt5Widgets.dll") << QStringLiteral("msvcr120.dll")
                << QStringLiteral("msvcp120.dll") << QStringLiteral("Qt5Gui.dll")
                << QStringLiteral("Qt5Svg.dll") << QStringLiteral("Trellim.exe");
    deployDirs << QStringLiteral("imageformats") << QStringLiteral("iconengines")
               << QStringLiteral("platforms");

    // The workers stay on this (the main) thread; the controller calls them
    // from its own thread.
    downloadControl = new DownloadControl(nullptr);
    connect(downloadControl, SIGNAL(finished(int)), this, SLOT(finishedSlot(int)));
    connect(downloadControl, SIGNAL(progressChange(int, qint64, qint64, qint64)), this,
            SIGNAL(progressChangeSignal(int, qint64, qint64, qint64)));
    connect(downloadControl, SIGNAL(getFileSizeErrorSignal(QString)), this,
            SLOT(getDownloadFileSizeErrorSlot(QString)));
    connect(downloadControl, SIGNAL(error(QString, bool)), this,
            SLOT(DownloadErrorSlot(QString, bool)));
    // The size query reports its failure before downloadFile returns; a direct
    // connection lets beginDownload know that a false result was reported.
    connect(downloadControl, SIGNAL(getFileSizeErrorSignal(QString)), this,
            SLOT(sizeQueryFailedSlot()), Qt::DirectConnection);

    uncompress = new Uncompress(nullptr);
    connect(uncompress, SIGNAL(UncompressPacketOKSignal()), this,
            SLOT(UncompressPacketSuccessSlot()));
    connect(uncompress, SIGNAL(UncompressPacketFailSignal()), this,
            SLOT(UncompressPacketErrorSlot()));

    bsdiffControl = new BsdiffControl(nullptr);
    connect(bsdiffControl, SIGNAL(bsdiffSuccessSignal()), this, SLOT(PatchSuccessSlot()));
    connect(bsdiffControl, SIGNAL(bsdiffFailSignal(QString)), this, SLOT(PatchErrorSlot(QString)));

    stage = PrepareConfig;
    connect(this, SIGNAL(downloadSuccessSignal()), this, SLOT(mainControlSlot()));
    connect(this, SIGNAL(uncompressSuccessSignal()), this, SLOT(mainControlSlot()));
    connect(this, SIGNAL(uncompressFalilSignal()), this, SLOT(mainControlSlot()));
    connect(this, SIGNAL(patchSuccessSignal()), this, SLOT(mainControlSlot()));
    connect(this, SIGNAL(patchFailSignal()), this, SLOT(mainControlSlot()));
    connect(this, SIGNAL(callTrellimSignal(QString)), this, SLOT(callTrellim(QString)));
    connect(this, SIGNAL(callInstallerSignal()), this, SLOT(runInstaller()));
    connect(this, SIGNAL(reStartUpdateSignal()), this, SLOT(reStartUpdateSlot()));

    launchFailures = 0;
    restartCount = 0;

    workerThread = new QThread;
    moveToThread(workerThread);
    workerThread->start(QThread::InheritPriority);
}

void UpdateControl::connectWindow(QObject *window)
{
    connect(this, SIGNAL(progressChangeSignal(int, qint64, qint64, qint64)), window,
            SLOT(progressChangeSlot(int, qint64, qint64, qint64)));
    connect(this, SIGNAL(changeLabelTextSignal(QString)), window, SLOT(chanageLabelText(QString)));
    connect(this, SIGNAL(showMessageBoxSignal(QString, bool)), window,
            SLOT(showMessageBox(QString, bool)));
    connect(this, SIGNAL(showMovieSignal()), window, SLOT(showMovie()));
    connect(this, SIGNAL(hideMovieSignal()), window, SLOT(hideMovie()));
    connect(this, SIGNAL(exitSignal()), window, SLOT(closeAppSlot()));
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
        emit changeLabelTextSignal(tr("Preparing configuration file"));
        emit showMovieSignal();
        stage = DownloadingConfig;
        beginDownload();
        break;
    case ConfigReady:
        chooseRoute();
        break;
    case FixPacketReady:
        qDebug() << "download fixUpdatePacket Success";
        unpackIfMatches(fixUpdatePacketPath, config.fixUpdatePacketMd5,
                        "Download FixUpdate Packet md5 is not match",
                        "json: fixUpdatePacket's md5 %1", "file: fixUpdatePacket's md5 %1",
                        UncompressingFixPacket);
        break;
    case PartialPacketReady:
        unpackIfMatches(partialPacketPath, config.partialPacketMd5,
                        "Download Partial Packet md5 is not match", "json: PartialPacket's md5 %1",
                        "file: PartialPacket's md5 %1", UncompressingPartialPacket);
        break;
    case ReplacePacketReady:
        unpackIfMatches(replacePacketPath, config.replacePacketMd5,
                        "Download Replace Packet md5 is not match", "json: replacePacket's md5 %1",
                        "file: replace Packet's md5 %1", UncompressingReplacePacket);
        break;
    case InstallerReady:
        // A wrong installer is not fetched again: the user is sent to the web site.
        if (!packetMatches(installerPath, config.installerMd5,
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
        fixUpdateDir = installPath + QStringLiteral("/fixupdate");
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
    // Installing the unpacked copy into fixUpdateDir and starting it comes
    // with the deployment step; until then the route ends here.
    qDebug() << "outUncompressFilesPath" << outUncompressFilesPath;
}

bool UpdateControl::packetMatches(const QString &path, const QByteArray &expected,
                                  const char *mismatchLine, const char *jsonText,
                                  const char *fileText) const
{
    const QByteArray actual = fileMd5(path);
    if (actual == expected)
        return true;
    qDebug() << mismatchLine;
    qDebug() << QString::fromLatin1(jsonText).arg(QString::fromUtf8(expected))
             << QString::fromLatin1(fileText).arg(QString::fromUtf8(actual));
    return false;
}

void UpdateControl::unpackIfMatches(const QString &path, const QByteArray &expected,
                                    const char *mismatchLine, const char *jsonText,
                                    const char *fileText, UpdateStage unpackingStage)
{
    if (!packetMatches(path, expected, mismatchLine, jsonText, fileText)) {
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
    downloadTarget = updateDir + QLatin1Char('/') + QUrl(downloadUrl).fileName(QUrl::FullyDecoded);
    // A coordinator that refuses to start without a word (the target cannot
    // be created, or it is still busy) would leave the update waiting for ever.
    sizeQueryFailed = false;
    if (!downloadControl->downloadFile(downloadUrl, downloadTarget, threadCount) &&
        !sizeQueryFailed) {
        qDebug() << "start download failed" << downloadTarget;
        emit reStartUpdateSignal();
    }
}

bool UpdateControl::checkDownloadUrl()
{
    const QUrl url(downloadUrl, QUrl::TolerantMode);
    // The file name becomes the download target inside the work folder: one
    // that names a folder step (a backslash separates folders on Windows)
    // would lead outside it.
    const QString fileName = url.fileName(QUrl::FullyDecoded);
    const bool leavesWorkFolder =
        fileName.contains(QLatin1Char('\\')) || fileName == QLatin1String("..");
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
    // A packet "name.7z" unpacks into the folder "name" beside it.
    outUncompressFilesPath = currentPacketPath.left(currentPacketPath.size() - 4);
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

void UpdateControl::discardDownloadControl()
{
    if (downloadControl)
        downloadControl->deleteLater();
    downloadControl = nullptr;
}

void UpdateControl::DownloadErrorSlot(QString errorString, bool isUploadLog)
{
    discardDownloadControl();
    emit showMessageBoxSignal(tr("%1").arg(errorString), isUploadLog);
}

void UpdateControl::getDownloadFileSizeErrorSlot(QString errorMessage)
{
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
    // The backup folder and the start of the setup program come with the
    // deployment step; until then the patch and replace routes end here.
    qDebug() << "callTrellim" << packetPath;
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
    // A downloaded file carries no execute permission here.
    Platform::makeExecutable(installerPath);
    const QStringList arguments{QStringLiteral("/VERYSILENT"),
                                QStringLiteral("/DIR=") + installPath};
    qDebug() << "installer" << installerPath;
    qDebug() << "arguments" << arguments;
    // No parent and never deleted once started: the installer outlives the updater.
    auto *installer = new QProcess;
    installer->start(installerPath, arguments);
    if (installer->waitForStarted(30000)) {
        qDebug() << "start installer success";
        emit exitSignal();
        return;
    }
    qDebug() << "start installer failed" << installer->errorString();
    // One that is still starting after the wait is left alone: deleting it would end it.
    if (installer->state() == QProcess::NotRunning)
        delete installer;
    ++launchFailures;
    emit callInstallerSignal();
}
