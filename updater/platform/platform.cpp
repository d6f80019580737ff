#include "platform/platform.h"

#include <QFile>
#include <QNetworkProxyFactory>
#include <QProcess>
#include <QSysInfo>
#include <QTextCodec>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QDesktopServices>
#include <QSettings>
#include <windows.h>
#else
#include <QRegularExpression>
#endif

#ifdef Q_OS_WIN
namespace {
// A system program by its full path in the system folder: started by its bare
// name, a program of that name planted in the updater's folder would run.
QString systemProgram(const QString &name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QString();
    return QString::fromWCharArray(folder, int(length)) + QLatin1Char('\\') + name;
}
} // namespace
#endif

void Platform::startStopMainApplication(QProcess &process)
{
#ifdef Q_OS_WIN
    process.start(systemProgram(QStringLiteral("TASKKILL.exe")),
                  {QStringLiteral("/F"), QStringLiteral("/IM"), QStringLiteral("Velmora.exe")});
#else
    process.start(QStringLiteral("pkill"),
                  {QStringLiteral("-KILL"), QStringLiteral("-x"), QStringLiteral("Velmora")});
#endif
}

void Platform::setLocaleCodec(QTextCodec *codec)
{
#ifdef Q_OS_WIN
    QTextCodec::setCodecForLocale(codec);
#else
    Q_UNUSED(codec)
#endif
}

#ifdef Q_OS_WIN
namespace {
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
struct WindowsRelease
{
    QSysInfo::WinVersion version;
    const char *tag;
    const char *name;
};

const WindowsRelease windowsReleases[] = {
    {QSysInfo::WV_NT, "xp", "Windows NT"},
    {QSysInfo::WV_2000, "xp", "Windows 2000"},
    {QSysInfo::WV_XP, "xp", "Windows XP"},
    {QSysInfo::WV_2003, "xp", "Windows 2003"},
    {QSysInfo::WV_VISTA, "win7", "Windows Vista"},
    {QSysInfo::WV_WINDOWS7, "win7", "Windows 7"},
    {QSysInfo::WV_WINDOWS8, "win7", "Windows 8"},
    {QSysInfo::WV_WINDOWS8_1, "win7", "Windows 8.1"},
    {QSysInfo::WV_WINDOWS10, "win7", "Windows 10"},
};
QT_WARNING_POP

const WindowsRelease *currentRelease()
{
    // The release classes of the update server follow Qt's own numbering.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    const QSysInfo::WinVersion current = QSysInfo::WindowsVersion;
    QT_WARNING_POP
    for (const WindowsRelease &release : windowsReleases) {
        if (release.version == current)
            return &release;
    }
    return nullptr;
}
} // namespace
#endif

QString Platform::osTag()
{
#ifdef Q_OS_WIN
    if (const WindowsRelease *release = currentRelease())
        return QString::fromLatin1(release->tag);
#endif
    return QStringLiteral("mac");
}

QString Platform::systemInfo()
{
#ifdef Q_OS_WIN
    if (const WindowsRelease *release = currentRelease())
        return QString::fromLatin1(release->name);
    return QStringLiteral("mac");
#else
    return QSysInfo::prettyProductName();
#endif
}

QString Platform::cpuInfo()
{
#ifdef Q_OS_WIN
    QSettings registry(
        QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0"),
        QSettings::NativeFormat);
    return registry.value(QStringLiteral("ProcessorNameString")).toString();
#else
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (!cpuinfo.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    static const QRegularExpression modelName(QStringLiteral("^model name\\s*:\\s*(.*)$"),
                                              QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = modelName.match(QString::fromUtf8(cpuinfo.readAll()));
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
#endif
}

bool Platform::makeExecutable(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return true;
#else
    QFile file(path);
    return file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                               QFileDevice::ExeGroup | QFileDevice::ExeOther);
#endif
}

bool Platform::clearReadOnly(const QString &path)
{
#ifdef Q_OS_WIN
    return QFile::setPermissions(path, QFileDevice::WriteOther);
#else
    return QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOwner |
                                           QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                           QFileDevice::WriteUser);
#endif
}

bool Platform::startOutlivingProcess(const QString &program, const QStringList &arguments,
                                     QString *errorText)
{
    // A downloaded or copied program may carry no execute permission here.
    makeExecutable(program);
    auto *process = new QProcess;
#ifndef Q_OS_WIN
    // The updater ends right after the start, and here a child that then
    // writes to a pipe whose reader has gone is killed by SIGPIPE; on Windows
    // such a write merely fails and the pipes stay.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
#endif
    process->start(program, arguments, QIODevice::ReadWrite);
    if (process->waitForStarted(30000))
        return true;
    *errorText = process->errorString();
    // One still coming up after the wait is left alone: deleting it would end it.
    if (process->state() == QProcess::NotRunning)
        delete process;
    return false;
}

bool Platform::openWebPage(const QUrl &url)
{
#ifdef Q_OS_WIN
    return QDesktopServices::openUrl(url);
#else
    // The desktop's own opener works whatever display platform Qt runs on.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
#endif
}

void Platform::useSystemProxy()
{
    // Qt reads each platform's own settings behind this one switch.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}
