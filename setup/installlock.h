#pragma once

#include <QLockFile>
#include <QString>

// The installation's lock file, "Trellim.lock": one setup run, or the
// updater's recovery of an interrupted one, changes the installation at a
// time. A lock whose owner has ended is taken over: the owner's process id in
// it names a process that no longer runs, or, for a lock left empty by an
// owner killed between creating and writing it, the file is older than a few
// seconds. A live owner keeps its lock all the same, however long it runs:
// it holds the file open with the system's own lock (a file lock here, a
// share mode without deletion on Windows), so it cannot be removed under it.
// A link in place of the lock file is removed, never followed.
class InstallLock
{
public:
    enum Result
    {
        Taken,
        HeldByAnotherRun,
        // The lock cannot be written at all (a full disk, a read-only
        // folder): nothing can be changed in the installation.
        Unwritable
    };

    // How long a setup run waits for another one to finish.
    static const int waitMs = 180000;

    explicit InstallLock(const QString &installPath);

    static QString filePath(const QString &installPath);

    // Waits up to `timeoutMs` for the lock; logs why it was not taken.
    Result take(int timeoutMs);

private:
    // Why no lock file can be written here, in the system's words.
    QString writeProblem() const;

    QString path;
    QLockFile lock;
};
