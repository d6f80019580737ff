#pragma once

#include <QString>

// Operating-system services of the setup program. The Windows branch does what
// the product needs on its home platform; the other branch gives working
// equivalents here.
class SetupPlatform
{
public:
    // Keeps the program alive when it writes to a pipe whose reader has gone
    // (the updater that started it quits at once); nothing to do on Windows.
    static void ignoreBrokenPipe();

    // The id of the parent process when it is the updater ("update" or
    // "update.exe") and still runs, else 0.
    static qint64 updaterParent();
    // Waits up to `timeoutMs` for the parent process `parent` to end; true
    // when it has ended.
    static bool waitForParentEnd(qint64 parent, int timeoutMs);

    // Moves `source` onto `target` in one step, replacing the file there, so
    // that `target` is always either the old or the new file.
    static bool replaceFile(const QString &source, const QString &target);
    // Gives the existing file `source` the second name `target` without
    // copying its content (a hard link); false where the file system cannot.
    static bool linkFile(const QString &source, const QString &target);

    // The main application's file name inside the installation.
    static QString mainApplicationName();
    // Whether `path` may be started as a program (the execute permission here).
    static bool isStartable(const QString &path);
};
