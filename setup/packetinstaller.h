#pragma once

#include "setup/installjournal.h"

#include <QString>
#include <QStringList>

// Brings every file of a prepared folder into the installation, keeping the
// relative paths: all of them or none. Each file is written beside its target
// and renamed into place, so no file is ever half written; the previous version
// of every file it replaces is kept (taken from the updater's backup folder
// where that holds the same content) and listed in a journal before the first
// change, and any failure rolls the installation back.
class PacketInstaller
{
public:
    PacketInstaller(const QString &packetPath, const QString &installPath);

    // True when every file is in place; false when nothing was changed, or
    // everything was put back (the journal stays when even that failed).
    bool install();
    int replacedCount() const { return journal.replaced.size(); }
    int addedCount() const { return journal.added.size(); }

private:
    bool plan();
    bool keepPreviousVersions();
    bool apply();
    bool applyFile(const QString &path, bool keepPermissions);

    QString packetPath;
    QString installPath;
    QString backupPath;
    QStringList files;
    InstallJournal journal;
};
