#pragma once

#include "recordingtool.h"

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the real `update` program the way the main application starts it, with
// everything it reaches kept below `root`: its application data (and so its
// work folder and log) in root/data, its home and desktop in root/home, and
// stand-in `pkill` and `xdg-open` first on PATH, so that nothing is stopped by
// name and no browser opens. The vendor's servers are replaced by a port where
// nothing listens.
class UpdateSandbox
{
public:
    explicit UpdateSandbox(const QString &root);
    // Kills a run that is still going: only the process this sandbox started.
    ~UpdateSandbox();

    // A program of this build: "update", "Trellim.exe".
    static QString builtProgram(const QString &name);

    void start(const QStringList &arguments);
    QProcessEnvironment environment() const;

    QString workDirectory() const;
    // The names of the update logs in the work folder.
    QStringList logFiles() const;
    // A log file of the work folder, decoded from GB18030.
    QString logText(const QString &name) const;

    QProcess process;
    const RecordingTool pkill;
    const RecordingTool xdgOpen;

private:
    QString root;
};
