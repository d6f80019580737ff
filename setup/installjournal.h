#pragma once

#include "releasecontract/releaselayout.h"

#include <QString>
#include <QStringList>

// What one installation run changes, written into the installation before its
// first change so that a run that fails, or is cut short, can be undone:
//
//   <install>/Trellim.journal/journal.json   {"format": 1, "replaced": [...],
//                                              "added": [...], "createdFolders": [...]}
//   <install>/Trellim.journal/saved/<path>   the previous version of each replaced file
//
// Paths are relative to the installation and joined with "/". The journal file
// is written last and renamed into place, so it exists only when every saved
// copy is complete; it is removed first when the run is over, so a journal file
// always describes a run that may have changed the installation.
class InstallJournal
{
public:
    explicit InstallJournal(const QString &installPath);

    static QString folderName() { return ReleaseLayout::setupJournalFolder(); }
    // A path relative to the installation that stays inside it and outside the
    // journal folder. Entries of a journal are read only when they all are.
    static bool isRecordablePath(const QString &path);
    QString folder() const;
    QString savedCopy(const QString &relativePath) const;
    // Copies `source` beside `target` under a temporary name and renames it
    // into place, so that `target` is never half written. A run that is cut
    // short may leave the temporary file behind; a rollback removes it.
    static bool putInPlace(const QString &source, const QString &target,
                           bool keepTargetPermissions);

    // Files whose previous version is saved, files put where no file was, and
    // folders that did not exist, parents before children.
    QStringList replaced;
    QStringList added;
    QStringList createdFolders;

    // Writes the journal file; the saved copies must be complete.
    bool commit() const;
    // Puts back every saved file, deletes every added file and created folder,
    // then discards the journal. Files that already hold their previous
    // content are left alone. On failure the journal stays for a later attempt.
    bool rollBack() const;
    // Removes the journal file, then the saved copies: the run is over.
    bool discard() const;

    // A journal left behind by an earlier run that was cut short: rolls it
    // back, or removes an unfinished journal folder (the run changed nothing
    // yet). True when the installation is as it was before that run.
    bool recoverInterruptedRun();

private:
    static QString temporaryName(const QString &target);
    QString journalFile() const;
    bool read();

    QString installPath;
};
