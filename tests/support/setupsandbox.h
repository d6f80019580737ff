#pragma once

#include "foldertree.h"
#include "releasecontract/logfolder.h"
#include "releasecontract/wrappedpath.h"
#include "setup/preparedmanifest.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

// An installation, a prepared folder in the work folder and private XDG and
// HOME folders in one temporary folder; Trellim runs against them as a real
// process, as the updater starts it: the program in the environment variable
// TRELLIM_PROGRAM. A test that includes it links setup_install. On Windows, which knows no XDG or
// HOME folders, Trellim logs to the user's own work folder and desktop and reads the user's own
// settings; the sandbox removes what it puts there.
class SetupSandbox
{
public:
    explicit SetupSandbox(const QString &installName = QStringLiteral("velmora"))
        : installPath(path(installName)), packetPath(path(QStringLiteral("data/Velmora/update/p2")))
    {
        QDir().mkpath(installPath);
        QDir().mkpath(packetPath);
        QDir().mkpath(path(QStringLiteral("home/Desktop")));
        removeUserFiles();
    }
    ~SetupSandbox()
    {
        removeUserFiles();
        // The main application the run started may still be ending, and
        // Windows keeps a running program's file; whatever stays is named in
        // QTemporaryDir's own warning.
        const bool removed = QTest::qWaitFor([this] { return dir.remove(); }, 10000);
        Q_UNUSED(removed)
    }

    QString path(const QString &relative) const { return dir.path() + QLatin1Char('/') + relative; }
    QString logPath(bool onDesktop = false) const
    {
        return (onDesktop ? desktopFolder() : workFolder()) + QStringLiteral("/trellim.log");
    }
    // The main application's settings.ini, which Trellim reads.
    QString settingsPath() const
    {
#ifdef Q_OS_WIN
        return LogFolder::settingsPath();
#else
        return path(QStringLiteral("data/Velmora/settings.ini"));
#endif
    }

    // Failures show in the comparisons that follow.
    static void write(const QString &file, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(content);
    }
    void install(const FolderTree::Tree &files) const
    {
        FolderTree::write(installPath, files);
    }
    // The prepared files with the sums the updater records for them.
    void prepare(const FolderTree::Tree &files) const
    {
        FolderTree::write(packetPath, files);
        QString error;
        if (!PreparedManifest::write(packetPath, QStringLiteral("mac"), QStringLiteral("6.1.0"),
                                     &error))
            qWarning() << error;
    }

    // The main application's file name: Windows programs end in ".exe".
    static QString mainApplicationName()
    {
#ifdef Q_OS_WIN
        return QStringLiteral("Velmora.exe");
#else
        return QStringLiteral("Velmora");
#endif
    }
    // A main application that records the folder it runs in: a script here,
    // on Windows a copy of the program STANDIN_PROGRAM (every file may be
    // started there).
    void addMainApplication(bool executable) const
    {
        const QString program = installPath + QLatin1Char('/') + mainApplicationName();
#ifdef Q_OS_WIN
        Q_UNUSED(executable)
        QFile::copy(QString::fromLocal8Bit(qgetenv("STANDIN_PROGRAM")), program);
#else
        write(program,
              QStringLiteral("#!/bin/sh\npwd > '%1'\n").arg(mainApplicationRecord()).toUtf8());
        if (executable)
            QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
#endif
    }
    QString mainApplicationRecord() const
    {
        return path(QStringLiteral("velmora-ran"));
    }

    QStringList arguments() const
    {
        return {WrappedPath::wrap(installPath), WrappedPath::wrap(packetPath),
                QStringLiteral("trellim.log"), QStringLiteral("update.json"),
                QStringLiteral("6.1.0")};
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        environment.insert(QStringLiteral("TRELLIM"),
                           QString::fromLocal8Bit(qgetenv("TRELLIM_PROGRAM")));
        environment.insert(QStringLiteral("STANDIN_RECORD"), mainApplicationRecord());
        return environment;
    }

    // Runs Trellim to its end; its standard channels must stay silent.
    int run(const QStringList &arguments) const
    {
        QProcess trellim;
        trellim.setProcessEnvironment(environment());
        trellim.start(QString::fromLocal8Bit(qgetenv("TRELLIM_PROGRAM")), arguments);
        if (!trellim.waitForFinished(60000) || trellim.exitStatus() != QProcess::NormalExit)
            return -1;
        if (!trellim.readAllStandardOutput().isEmpty() || !trellim.readAllStandardError().isEmpty())
            return -2;
        return trellim.exitCode();
    }

    QStringList logLines(bool onDesktop = false) const
    {
        QFile log(logPath(onDesktop));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QTextCodec::codecForName("gb18030")
            ->toUnicode(log.readAll())
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    bool logHas(const QString &text, bool onDesktop = false) const
    {
        return logLines(onDesktop).filter(text).size() == 1;
    }

    static QByteArray read(const QString &file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    const QString installPath;
    const QString packetPath;

private:
#ifdef Q_OS_WIN
    QString workFolder() const
    {
        return LogFolder::workDirectory();
    }
    QString desktopFolder() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    }
#else
    QString workFolder() const
    {
        return path(QStringLiteral("data/Velmora/update"));
    }
    QString desktopFolder() const
    {
        return path(QStringLiteral("home/Desktop"));
    }
#endif
    void removeUserFiles() const
    {
        for (const QString &file : {logPath(false), logPath(true), settingsPath()}) {
            if (!file.startsWith(dir.path()))
                QFile::remove(file);
        }
    }
};
