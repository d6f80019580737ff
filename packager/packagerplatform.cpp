#include "packager/packagerplatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <dirent.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#endif

namespace {

QMutex interruptMutex;
QString folderToRemove;

// Other threads may still write into the folder while it goes; each pass
// takes what appeared meanwhile. The process ends right after, holding the
// lock, so that nothing can name another folder.
void removeFolderAndExit(int exitCode)
{
    interruptMutex.lock();
    for (int pass = 0; pass < 10 && !folderToRemove.isEmpty() && QFileInfo::exists(folderToRemove);
         ++pass)
        QDir(folderToRemove).removeRecursively();
    std::fflush(stderr);
#ifdef Q_OS_WIN
    ExitProcess(UINT(exitCode));
#else
    _exit(exitCode);
#endif
}

#ifdef Q_OS_WIN
BOOL WINAPI consoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    removeFolderAndExit(128 + 2);
    return TRUE;
}
#else
QString escapedName(const QByteArray &raw)
{
    QString name;
    for (const char byte : raw) {
        const uchar code = uchar(byte);
        if (code >= 0x20 && code < 0x7f)
            name += QLatin1Char(byte);
        else
            name += QStringLiteral("\\x") +
                    QString::number(code, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return name;
}
#endif

} // namespace

bool PackagerPlatform::errorsGoToTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

QStringList PackagerPlatform::undecodableNames(const QString &folder)
{
    QStringList names;
#ifndef Q_OS_WIN
    DIR *listing = opendir(QFile::encodeName(folder).constData());
    if (!listing)
        return names;
    while (const dirent *entry = readdir(listing)) {
        const QByteArray raw(entry->d_name);
        if (raw != "." && raw != ".." && QFile::encodeName(QFile::decodeName(raw)) != raw)
            names.append(escapedName(raw));
    }
    closedir(listing);
#else
    Q_UNUSED(folder)
#endif
    return names;
}

void PackagerPlatform::handleInterrupts()
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(consoleControl, TRUE);
#else
    // Blocked here, the signals stay blocked in every thread started later
    // and reach only the waiting thread, which may then do anything.
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    std::thread([interrupts] {
        int signal = 0;
        while (sigwait(&interrupts, &signal) != 0) {
        }
        removeFolderAndExit(128 + signal);
    }).detach();
#endif
}

void PackagerPlatform::removeOnInterrupt(const QString &folder)
{
    QMutexLocker locker(&interruptMutex);
    folderToRemove = folder;
}
