#pragma once

#include <QString>

// The names that the updater, the setup program and the packager agree on:
// the programs of the updater's run-time, the folders the updater and the
// setup program keep in an installation, how a packet names the folder it unpacks into, and how a
// partial packet names its patches.
class ReleaseLayout
{
public:
    // The updater and the setup program, in an installation, its backup
    // folder and a self-update packet alike.
    static QString updaterProgram() { return QStringLiteral("update.exe"); }
    static QString setupProgram() { return QStringLiteral("Trellim.exe"); }

    // Top-level folders of an installation that belong to the updater: the
    // backup of the previous versions with the run-time the setup program
    // runs from, and the self-updated updater.
    static QString backupFolder() { return QStringLiteral("backup"); }
    static QString selfUpdateFolder() { return QStringLiteral("fixupdate"); }
    // The setup program's journal of an unfinished installation run.
    static QString setupJournalFolder() { return QStringLiteral("Trellim.journal"); }

    // A packet "name.ext" unpacks into the folder "name" beside it, whatever
    // the length of its extension. A name that is all extension (".pak")
    // names the packet itself, never the whole folder around it.
    static QString packetFolderName(const QString &packetFileName);

    // The patch of the installed file `path` inside a partial packet.
    static QString patchFileName(const QString &path);
    // True for a file that the updater deletes from a packet before it hands
    // the packet over: the text after the last "." of its name is exactly
    // "patch".
    static bool isPatchFile(const QString &fileName);
    static QString patchSuffix() { return QStringLiteral("patch"); }
};
