#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The setup program. The updater prepares a folder with an update's new files,
// rebuilds the installation's backup folder, starts this program and quits;
// this program waits for the updater to end, brings the prepared files into the
// installation (all of them or none), starts the main application again and
// removes the prepared folder. It writes only to the updater's log file.
//
// Arguments: "*" + install path + "*", "*" + prepared folder + "*", the log
// file's name, the update configuration's file name, the installed version.
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
    bool readArguments(const QStringList &arguments);
    void waitForUpdater() const;
    void startMainApplication() const;

    static QString logFilePath;
    QString installPath;
    QString packetPath;
};
