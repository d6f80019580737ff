#include "setup/setupplatform.h"

#include "releasecontract/releaselayout.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_WIN
// The tool help declarations need windows.h first.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#include <io.h>
#else
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
bool isUpdaterName(const QString &name)
{
    return name.compare(QLatin1String("update"), Qt::CaseInsensitive) == 0 ||
           name.compare(ReleaseLayout::updaterProgram(), Qt::CaseInsensitive) == 0;
}

#ifdef Q_OS_WIN
std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

quint64 creationTime(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}
#endif
} // namespace

void SetupPlatform::ignoreBrokenPipe()
{
#ifndef Q_OS_WIN
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

qint64 SetupPlatform::updaterParent()
{
#ifdef Q_OS_WIN
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    QString parentName;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self)
            parent = entry.th32ParentProcessID;
    }
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && parent != 0;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == parent)
            parentName = QString::fromWCharArray(entry.szExeFile);
    }
    CloseHandle(snapshot);
    if (parent == 0 || !isUpdaterName(parentName))
        return 0;
    // Process ids are reused: a process that started after this one cannot be
    // the updater that started it.
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, parent);
    if (!process)
        return 0;
    const quint64 parentStart = creationTime(process);
    CloseHandle(process);
    return parentStart != 0 && parentStart <= creationTime(GetCurrentProcess()) ? parent : 0;
#else
    const pid_t parent = getppid();
    // The name the parent was started under; for a script, the script's name.
    QFile comm(QStringLiteral("/proc/%1/comm").arg(parent));
    if (parent <= 1 || !comm.open(QIODevice::ReadOnly))
        return 0;
    return isUpdaterName(QString::fromLocal8Bit(comm.readAll().trimmed())) ? parent : 0;
#endif
}

bool SetupPlatform::waitForParentEnd(qint64 parent, int timeoutMs)
{
#ifdef Q_OS_WIN
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(parent));
    if (!process)
        return true;
    const bool ended = WaitForSingleObject(process, DWORD(timeoutMs)) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
#else
    // A process whose parent has ended is handed to another parent at once,
    // even while the old one has not been reaped yet.
    QElapsedTimer timer;
    timer.start();
    while (getppid() == pid_t(parent)) {
        if (timer.hasExpired(timeoutMs))
            return false;
        QThread::msleep(20);
    }
    return true;
#endif
}

bool SetupPlatform::replaceFile(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    // A read-only target cannot be replaced; the new file brings its own attributes.
    const std::wstring targetPath = nativePath(target);
    const DWORD attributes = GetFileAttributesW(targetPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(targetPath.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return MoveFileExW(nativePath(source).c_str(), targetPath.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
#else
    return ::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) ==
           0;
#endif
}

bool SetupPlatform::linkFile(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(nativePath(target).c_str(), nativePath(source).c_str(), nullptr) !=
           FALSE;
#else
    return ::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) ==
           0;
#endif
}

bool SetupPlatform::isLink(const QString &path)
{
#ifdef Q_OS_WIN
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISLNK(status.st_mode);
#endif
}

bool SetupPlatform::removeLink(const QString &path)
{
#ifdef Q_OS_WIN
    // A junction or a link to a folder is a folder entry of its own; removing
    // it as a folder never enters it.
    const std::wstring link = nativePath(path);
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryW(link.c_str())
                                                  : DeleteFileW(link.c_str())) != FALSE;
#else
    return ::unlink(QFile::encodeName(path).constData()) == 0;
#endif
}

QString SetupPlatform::linkOnPath(const QString &root, const QString &relativePath)
{
    QString path = root;
    for (const QString &component : relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + component;
        if (isLink(path))
            return path;
    }
    return QString();
}

bool SetupPlatform::removeLinksOnPath(const QString &root, const QString &relativePath)
{
    for (QString link = linkOnPath(root, relativePath); !link.isEmpty();
         link = linkOnPath(root, relativePath)) {
        qCritical() << "a link is removed, not followed; what it points to is left alone:" << link;
        if (!removeLink(link)) {
            qCritical() << "cannot remove the link" << link;
            return false;
        }
    }
    return true;
}

bool SetupPlatform::syncFile(QFileDevice &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()))) != FALSE;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool SetupPlatform::syncFolder(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return true;
#else
    const int folder =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    const bool synced = ::fsync(folder) == 0;
    ::close(folder);
    return synced;
#endif
}

QString SetupPlatform::mainApplicationName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Velmora.exe");
#else
    return QStringLiteral("Velmora");
#endif
}

bool SetupPlatform::isStartable(const QString &path)
{
#ifdef Q_OS_WIN
    return QFileInfo(path).isFile();
#else
    const QFileInfo program(path);
    return program.isFile() && program.isExecutable();
#endif
}
