#include "setup/trellim.h"

#include "releasecontract/logfolder.h"
#include "releasecontract/logline.h"
#include "releasecontract/wrappedpath.h"
#include "setup/installjournal.h"
#include "setup/packetinstaller.h"
#include "setup/setupplatform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QProcess>

QString Trellim::logFilePath;

namespace {
const int updaterEndTimeoutMs = 30000;
const int installLockTimeoutMs = 180000;

bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// An existing folder given by its absolute path, as its canonical path; empty otherwise.
QString existingFolder(const QString &path)
{
    const QFileInfo folder(path);
    return QDir::isAbsolutePath(path) && folder.isDir() ? folder.canonicalFilePath() : QString();
}

bool contains(const QString &folder, const QString &path)
{
    return path.compare(folder, Qt::CaseInsensitive) == 0 ||
           path.startsWith(folder + QLatin1Char('/'), Qt::CaseInsensitive);
}
} // namespace

void Trellim::messageHandler(QtMsgType type, const QMessageLogContext &context,
                             const QString &message)
{
    Q_UNUSED(context)
    static QMutex mutex;
    QMutexLocker locker(&mutex);
    if (!logFilePath.isEmpty())
        LogLine::append(logFilePath, LogLine::format(QStringLiteral("##Trellim##"), type, message));
}

int Trellim::run(int argc, char **argv)
{
    SetupPlatform::ignoreBrokenPipe();
    qInstallMessageHandler(messageHandler);
    QCoreApplication application(argc, argv);

    Trellim trellim;
    if (!trellim.readArguments(QCoreApplication::arguments().mid(1)))
        return BadArguments;
    // A second copy started for the same installation (the updater starts
    // another one when the first was slow to come up) waits for the first.
    QLockFile lock(trellim.installPath + QStringLiteral("/Trellim.lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(installLockTimeoutMs)) {
        qCritical() << "another setup run holds the installation:" << lock.error();
        return Failed;
    }
    trellim.waitForUpdater();

    InstallJournal journal(trellim.installPath);
    if (!journal.recoverInterruptedRun())
        return Failed;
    PacketInstaller installer(trellim.packetPath, trellim.installPath);
    if (!installer.install()) {
        qCritical() << "update failed; the installation is as it was before this run";
        return Failed;
    }
    qDebug() << "update installed:" << installer.replacedCount() << "files replaced,"
             << installer.addedCount() << "files added";
    // Its files now live in the installation; the packets stay in the work
    // folder for the updater's next run.
    if (!QDir(trellim.packetPath).removeRecursively())
        qDebug() << "the prepared folder could not be removed completely:" << trellim.packetPath;
    trellim.startMainApplication();
    return Installed;
}

bool Trellim::readArguments(const QStringList &arguments)
{
    // Without a plain log file name there is no log to report to.
    if (arguments.size() >= 3 && isPlainFileName(arguments.at(2)))
        logFilePath = LogFolder::locate() + QLatin1Char('/') + arguments.at(2);
    qDebug() << "Trellim started with" << arguments;
    if (arguments.size() != 5) {
        qCritical() << "expected 5 arguments: install path, prepared folder, log file name,"
                    << "configuration file name, version; got" << arguments.size();
        return false;
    }
    if (logFilePath.isEmpty())
        return false;
    installPath = existingFolder(WrappedPath::unwrap(arguments.at(0)));
    packetPath = existingFolder(WrappedPath::unwrap(arguments.at(1)));
    if (installPath.isEmpty() || packetPath.isEmpty()) {
        qCritical() << "the install path and the prepared folder must be existing folders"
                    << "given by absolute paths";
        return false;
    }
    // Removing the prepared folder afterwards must never touch the installation.
    if (contains(installPath, packetPath) || contains(packetPath, installPath)) {
        qCritical() << "the prepared folder and the installation overlap:" << packetPath
                    << installPath;
        return false;
    }
    qDebug() << "installPath" << installPath << "packetPath" << packetPath << "configuration"
             << arguments.at(3) << "version" << arguments.at(4);
    return true;
}

void Trellim::waitForUpdater() const
{
    const qint64 updater = SetupPlatform::updaterParent();
    if (updater == 0)
        return;
    qDebug() << "waiting for the updater to end, process" << updater;
    if (SetupPlatform::waitForParentEnd(updater, updaterEndTimeoutMs))
        qDebug() << "the updater has ended";
    else
        qCritical() << "the updater still runs after" << updaterEndTimeoutMs / 1000
                    << "seconds; installing anyway";
}

void Trellim::startMainApplication() const
{
    const QString program = installPath + QLatin1Char('/') + SetupPlatform::mainApplicationName();
    if (!QFileInfo(program).isFile()) {
        qDebug() << "no main application to start:" << program;
        return;
    }
    if (!SetupPlatform::isStartable(program)) {
        qCritical() << "the main application may not be started (no execute permission):"
                    << program;
        return;
    }
    // Detached, with no channel tied to this program, which ends at once.
    QProcess process;
    process.setProgram(program);
    process.setWorkingDirectory(installPath);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (process.startDetached(&pid))
        qDebug() << "main application started:" << program << "process" << pid;
    else
        qCritical() << "cannot start the main application:" << program;
}
