#include "setup/trellim.h"

#include "releasecontract/logfolder.h"
#include "releasecontract/logline.h"
#include "releasecontract/wrappedpath.h"
#include "setup/installjournal.h"
#include "setup/installlock.h"
#include "setup/packetinstaller.h"
#include "setup/setupplatform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>

QString Trellim::logFilePath;

namespace {
const int updaterEndTimeoutMs = 30000;

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
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.value(0) == QLatin1String("--recover"))
        return trellim.recover(arguments.mid(1));
    if (!trellim.readArguments(arguments))
        return BadArguments;
    return trellim.install();
}

int Trellim::install()
{
    waitForUpdater();
    // A second copy started for the same installation (the updater starts
    // another one when the first was slow to come up) waits for the first,
    // which starts the application when it is done.
    InstallLock lock(installPath);
    const InstallLock::Result locked = lock.take(InstallLock::waitMs);
    if (locked == InstallLock::HeldByAnotherRun)
        return Failed;
    if (locked == InstallLock::Unwritable)
        return failedAsBefore();
    if (SetupPlatform::isLink(packetArgument)) {
        qCritical() << "the prepared folder is a link and is not followed:" << packetArgument;
        return failedAsBefore();
    }

    InstallJournal journal(installPath);
    PacketInstaller installer(packetPath, installPath,
                              LogFolder::workDirectory() + QLatin1Char('/') + configurationName,
                              version);
    const PacketInstaller::Outcome outcome =
        journal.recoverInterruptedRun() ? installer.install() : PacketInstaller::InDoubt;
    if (outcome == PacketInstaller::InDoubt) {
        qCritical() << "update failed and could not be undone: the installation is in doubt, so"
                    << "the application is not started; the journal stays for the next update,"
                    << "which finishes it first";
        return Failed;
    }
    if (outcome != PacketInstaller::Installed)
        return failedAsBefore();
    qDebug() << "update installed:" << installer.replacedCount() << "files replaced,"
             << installer.addedCount() << "files added";
    // Its files now live in the installation; the packets stay in the work
    // folder for the updater's next run.
    if (!QDir(packetPath).removeRecursively() ||
        !QFile::remove(PreparedManifest::pathFor(packetPath)))
        qDebug() << "the prepared folder could not be removed completely:" << packetPath;
    startMainApplication();
    return Installed;
}

int Trellim::failedAsBefore() const
{
    qCritical() << "update failed; the installation is as it was before this run, and the"
                << "application is started again";
    startMainApplication();
    return Failed;
}

int Trellim::recover(const QStringList &arguments)
{
    useLogFile(arguments.value(1));
    installPath = existingFolder(WrappedPath::unwrap(arguments.value(0)));
    if (arguments.size() != 2 || logFilePath.isEmpty() || installPath.isEmpty()) {
        qCritical() << "expected --recover, the install path and the log file name; got"
                    << arguments;
        return BadArguments;
    }
    qDebug() << "Trellim finishes an interrupted run in" << installPath;
    return InstallJournal::finishInterruptedRun(installPath) ? Installed : Failed;
}

bool Trellim::useLogFile(const QString &name)
{
    if (isPlainFileName(name))
        logFilePath = LogFolder::locate() + QLatin1Char('/') + name;
    return !logFilePath.isEmpty();
}

bool Trellim::readArguments(const QStringList &arguments)
{
    // Without a plain log file name there is no log to report to.
    const bool logged = useLogFile(arguments.value(2));
    qDebug() << "Trellim started with" << arguments;
    if (arguments.size() != 5) {
        qCritical() << "expected 5 arguments: install path, prepared folder, log file name,"
                    << "configuration file name, version; got" << arguments.size();
        return false;
    }
    if (!logged)
        return false;
    installPath = existingFolder(WrappedPath::unwrap(arguments.at(0)));
    packetArgument = WrappedPath::unwrap(arguments.at(1));
    packetPath = existingFolder(packetArgument);
    configurationName = arguments.at(3);
    version = arguments.at(4);
    if (installPath.isEmpty() || packetPath.isEmpty() || !isPlainFileName(configurationName)) {
        qCritical() << "the install path and the prepared folder must be existing folders"
                    << "given by absolute paths, the configuration a plain file name";
        return false;
    }
    // Removing the prepared folder afterwards must never touch the installation.
    if (contains(installPath, packetPath) || contains(packetPath, installPath)) {
        qCritical() << "the prepared folder and the installation overlap:" << packetPath
                    << installPath;
        return false;
    }
    qDebug() << "installPath" << installPath << "packetPath" << packetPath << "configuration"
             << configurationName << "version" << version;
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
