#pragma once

#include "setup/installjournal.h"
#include "setup/preparedmanifest.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Brings every file of a prepared folder into the installation, keeping the
// relative paths: all of them or none. Only files with the sums the updater
// recorded for them are installed, and those sums must agree with what the
// update configuration says the changed files become. Each file is written
// beside its target, put on the disk and renamed into place; the previous
// version of every file it replaces is kept (taken from the updater's backup
// folder where that holds the same content) and listed in a journal before
// the first change. The result is checked before it counts as installed, and
// any failure rolls the installation back.
class PacketInstaller
{
public:
    enum Outcome
    {
        Installed,
        // Refused before anything changed.
        Unchanged,
        RolledBack,
        // Neither installed nor put back; the journal stays for the next run.
        InDoubt
    };

    // `configurationPath`: the update configuration in the work folder, which
    // may be missing; `version`: the installed version the files were made for.
    PacketInstaller(const QString &packetPath, const QString &installPath,
                    const QString &configurationPath, const QString &version);

    Outcome install();
    int replacedCount() const { return journal.replaced.size(); }
    int addedCount() const { return journal.added.size(); }

private:
    bool plan();
    // The prepared files against the updater's sums, and those against the
    // configuration's.
    bool checkPreparedFiles();
    void readNewSums();
    bool keepPreviousVersions();
    bool apply();
    bool applyFile(const QString &path, bool keepPermissions);
    bool verify() const;

    QString packetPath;
    QString installPath;
    QString configurationPath;
    QString version;
    QStringList files;
    PreparedManifest manifest;
    // What the configuration says the changed files become, where it says so.
    QMap<QString, QByteArray> newSums;
    InstallJournal journal;
};
