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
// Paths are relative to the installation and joined with "/". The saved
// copies are put on the disk first; then the journal file is written beside
// its place, put on the disk and renamed into place, so it exists only when
// every saved copy is complete, even after a power cut. It is removed first
// when the run is over, and that removal is put on the disk before anything
// else goes: a journal file always describes a run that may have changed the
// installation.
//
// A journal file that cannot be read (damaged, of another format, naming a
// path outside the installation) would otherwise stop every later run: its
// saved copies are put back as far as they go, leftover temporary files are
// removed, the journal is deleted and the run goes on. Files the lost journal
// listed as added stay; the next installation replaces them like any other.
//
// Nothing is followed through a link: a link in place of the journal folder
// is removed as a link, and an entry whose path in the installation or among
// the saved copies passes through a link is not ours and is left alone.
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

    // Files whose previous version is saved, files put where no file was, and
    // folders that did not exist, parents before children.
    QStringList replaced;
    QStringList added;
    QStringList createdFolders;

    // Puts the saved copies' folders and then the journal file on the disk;
    // the saved copies themselves must be there already.
    bool commit() const;
    // Puts back every saved file, deletes every added file and created folder,
    // then discards the journal. Files that already hold their previous
    // content are left alone. On failure the journal stays for a later attempt.
    bool rollBack() const;
    // Removes the journal file, then the saved copies: the run is over.
    bool discard() const;

    // A journal left behind by an earlier run that was cut short: rolls it
    // back, or removes an unfinished journal folder (the run changed nothing
    // yet). True when the installation is whole again, old or new.
    bool recoverInterruptedRun();
    // The same for a program that does not install (the updater before it
    // compares installed files, the setup program's recovery option): takes
    // the installation's lock first, which also clears a lock a killed run left.
    // An installation with neither a journal nor a lock is not touched at all.
    // False when the installation is in doubt or busy.
    static bool finishInterruptedRun(const QString &installPath);

private:
    QString journalFile() const;
    QString target(const QString &path) const;
    // Whether `path` may be changed: neither it in the installation nor its
    // saved copy is reached through a link; logs the link otherwise.
    bool followsNoLink(const QString &path) const;
    bool read(QString *problem);
    // The handling of a journal file that cannot be read (see above).
    bool restoreWithoutJournal(const QString &problem);
    bool putBack(const QString &path) const;

    QString installPath;
};
