#include "setupsandbox.h"

#include "releasecontract/wrappedpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextCodec>

SetupSandbox::SetupSandbox(const QString &installName)
    : installPath(path(installName)), packetPath(path(QStringLiteral("data/Velmora/update/p2")))
{
    QDir().mkpath(installPath);
    QDir().mkpath(packetPath);
    QDir().mkpath(path(QStringLiteral("home/Desktop")));
}

QString SetupSandbox::path(const QString &relative) const
{
    return dir.path() + QLatin1Char('/') + relative;
}

QString SetupSandbox::logPath(bool onDesktop) const
{
    return path(onDesktop ? QStringLiteral("home/Desktop/trellim.log")
                          : QStringLiteral("data/Velmora/update/trellim.log"));
}

void SetupSandbox::write(const QString &file, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(file).path());
    QFile out(file);
    if (out.open(QIODevice::WriteOnly))
        out.write(content);
}

QByteArray SetupSandbox::read(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

void SetupSandbox::install(const FolderTree::Tree &files) const
{
    FolderTree::write(installPath, files);
}

void SetupSandbox::prepare(const FolderTree::Tree &files) const
{
    FolderTree::write(packetPath, files);
}

void SetupSandbox::addMainApplication(bool executable) const
{
    const QString program = installPath + QStringLiteral("/Velmora");
    write(program, QStringLiteral("#!/bin/sh\npwd > '%1'\n").arg(mainApplicationRecord()).toUtf8());
    if (executable)
        QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
}

QString SetupSandbox::mainApplicationRecord() const
{
    return path(QStringLiteral("velmora-ran"));
}

QStringList SetupSandbox::arguments() const
{
    return {WrappedPath::wrap(installPath), WrappedPath::wrap(packetPath),
            QStringLiteral("trellim.log"), QStringLiteral("update.json"), QStringLiteral("6.1.0")};
}

QProcessEnvironment SetupSandbox::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
    environment.insert(QStringLiteral("TRELLIM"),
                       QString::fromLocal8Bit(qgetenv("TRELLIM_PROGRAM")));
    return environment;
}

int SetupSandbox::run(const QStringList &arguments) const
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

QStringList SetupSandbox::logLines(bool onDesktop) const
{
    QFile log(logPath(onDesktop));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QTextCodec::codecForName("gb18030")
        ->toUnicode(log.readAll())
        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

bool SetupSandbox::logHas(const QString &text, bool onDesktop) const
{
    return logLines(onDesktop).filter(text).size() == 1;
}
