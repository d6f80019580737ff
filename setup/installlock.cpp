#include "setup/installlock.h"

#include "setup/setupplatform.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace {
// A live owner writes its lock within microseconds of creating it.
const int abandonedEmptyLockAgeMs = 10000;
} // namespace

InstallLock::InstallLock(const QString &installPath) : path(filePath(installPath)), lock(path)
{
    lock.setStaleLockTime(abandonedEmptyLockAgeMs);
}

QString InstallLock::filePath(const QString &installPath)
{
    return installPath + QStringLiteral("/Trellim.lock");
}

InstallLock::Result InstallLock::take(int timeoutMs)
{
    SetupPlatform::removeLinksOnPath(QFileInfo(path).path(), QFileInfo(path).fileName());
    if (lock.tryLock(timeoutMs))
        return Taken;
    if (lock.error() == QLockFile::LockFailedError) {
        qCritical() << "another setup run holds the installation:" << path;
        return HeldByAnotherRun;
    }
    qCritical() << "the installation's lock cannot be written:" << writeProblem();
    return Unwritable;
}

QString InstallLock::writeProblem() const
{
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return probe.errorString();
    const bool written = probe.write("0\n") == 2 && probe.flush();
    const QString reason = probe.errorString();
    probe.close();
    QFile::remove(path);
    return written ? QStringLiteral("error %1 of the lock").arg(int(lock.error())) : reason;
}
