#pragma once

#include <QString>

class QFileDevice;

// Operating-system services of the setup program, and the link-safe, durable
// file operations that the updater shares with it for the folders both manage
// (the installation, its backup and journal folders, the work folder). The
// Windows branch does what the product needs on its home platform; the other
// branch gives working equivalents here.
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

    // Whether `path` itself is a link: a symbolic link, or on Windows any
    // reparse point (a junction too). A missing path is none.
    static bool isLink(const QString &path);
    // Removes the link `path` itself; whatever it points to is left alone.
    static bool removeLink(const QString &path);
    // The first of `root` + "/" + the leading components of `relativePath`
    // (the whole path included) that is a link; empty when none is. `root`
    // itself is not looked at.
    static QString linkOnPath(const QString &root, const QString &relativePath);
    // For the folders that are ours to clean (the work folder, the backup and
    // self-update folders): removes, with a log line, every link that
    // linkOnPath finds; false when one cannot be removed.
    static bool removeLinksOnPath(const QString &root, const QString &relativePath);

    // Writes what `file` holds in its buffers and then asks the system to put
    // its content on the disk (fsync here, FlushFileBuffers on Windows).
    static bool syncFile(QFileDevice &file);
    // Puts the folder's entries (a rename or removal in it) on the disk. Windows
    // offers no such call; its renames are written through instead.
    static bool syncFolder(const QString &path);

    // The main application's file name inside the installation.
    static QString mainApplicationName();
    // Whether `path` may be started as a program (the execute permission here).
    static bool isStartable(const QString &path);
};
