#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The setup program. The updater prepares a folder with an update's new files,
// records their sums beside it (see PreparedManifest), rebuilds the
// installation's backup folder, starts this program and quits; this program
// waits for the updater to end, brings the prepared files into the
// installation (all of them or none, see PacketInstaller), starts the main
// application again and removes the prepared folder. It writes only to the
// updater's log file.
//
// Arguments: "*" + install path + "*", "*" + prepared folder + "*", the log
// file's name, the update configuration's file name (in the work folder), the
// installed version. Or, to finish a run that was cut short and nothing else:
// "--recover", "*" + install path + "*", the log file's name.
//
// Whatever happens, the user is not left without the application: after a
// refused or failed install, once the installation is as it was, the main
// application is started again, and the log says why the install failed.
// Only when the installation could not be put back (it is then in doubt) is
// the application left stopped, and the log says so; the journal stays, and
// the next update, which finishes it before anything else, repairs it. A
// journal that cannot be read and a lock left by a killed run do not stop
// later runs (see InstallJournal and InstallLock). When the lock cannot be
// written at all (a full disk, a read-only folder), the log names the
// system's reason.
class Trellim
{
public:
    enum ExitCode
    {
        Installed = 0,
        Failed = 1,
        BadArguments = 2
    };

    // The process entry; returns the exit code.
    static int run(int argc, char **argv);

private:
    // Appends every message to the log file, and nothing anywhere else: the
    // standard channels are pipes to the updater, which has quit.
    static void messageHandler(QtMsgType type, const QMessageLogContext &context,
                               const QString &message);
    // Logs to the file `name` of the log folder, when it is a plain file name.
    static bool useLogFile(const QString &name);
    bool readArguments(const QStringList &arguments);
    int recover(const QStringList &arguments);
    int install();
    // The installation is whole but not updated: the application comes back.
    int failedAsBefore() const;
    void waitForUpdater() const;
    void startMainApplication() const;

    static QString logFilePath;
    QString installPath;
    QString packetArgument;
    QString packetPath;
    QString configurationName;
    QString version;
};
