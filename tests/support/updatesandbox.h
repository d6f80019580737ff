#pragma once

#include "recordingtool.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Runs the real `update` program the way the main application starts it, with
// everything it reaches kept below one folder: its application data (and so
// its work folder and log) in data/, its home and desktop in home/, and
// stand-in `pkill` and `xdg-open` in bin/, first on PATH, so that nothing is
// stopped by name and no browser opens. The vendor's servers are replaced by
// a port where nothing listens, unless a test names its own upload server.
class UpdateSandbox
{
private:
    std::unique_ptr<QTemporaryDir> ownFolder;
    QString root;

public:
    // A sandbox in a temporary folder of its own.
    UpdateSandbox();
    // A sandbox in `root`, which the caller owns.
    explicit UpdateSandbox(const QString &root);
    // Kills a run that is still going: only the process this sandbox started.
    ~UpdateSandbox();

    // A program of this build: "update", "Trellim.exe".
    static QString builtProgram(const QString &name);

    QString path(const QString &relative) const;
    QString workDirectory() const;
    // The main application's settings.ini, which the program reads at start.
    void writeSettings(const QByteArray &content) const;

    void start(const QStringList &arguments);

    // The names of the log files in `folder` (by default the work folder).
    QStringList logFiles(const QString &folder = QString()) const;
    // A log file of `folder` (by default the work folder), decoded from GB18030.
    QString logText(const QString &name, const QString &folder = QString()) const;

    // Receives the failure log.
    QString uploadServer = QStringLiteral("http://127.0.0.1:9");
    // The forward proxy the program finds configured (http_proxy); empty: none.
    QString proxy;
    // An X display to show the window on; empty: the offscreen platform.
    QString display;
    // The program started: this build's update, or a variant of it.
    QString program = builtProgram(QStringLiteral("update"));

    QProcess process;
    const RecordingTool pkill;
    // Catches the home page a failing update opens.
    const RecordingTool xdgOpen;
};
