#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// What one release is made of, as the command line gives it.
struct ReleaseOptions
{
    struct OldTree
    {
        QString version;
        QString folder;
    };

    QString newFolder;
    QString newVersion;
    QString baseUrl; // ends in "/"
    QString outFolder;
    QString installer;
    QVector<OldTree> oldTrees;
    // The updater's run-time folder; empty: this build's update and
    // Trellim.exe, stripped.
    QString updaterFolder;
    QStringList selfUpdateFor;
    QStringList osTags;
    QString mergeFile;
    // The secret key that signs the configuration; empty: it is not signed.
    QString signingKeyFile;
    // Days after signing until the signed release is refused; 0: never.
    int expiresInDays = 0;
    // Links in the trees count as what they point to instead of being refused.
    bool dereferenceLinks = false;
    // Every check that needs no packet, and nothing written.
    bool dryRun = false;
    // Diffs at once; 0: one per core.
    int jobs = 0;
    // The memory the diffs may need together; 0: what the largest one needs.
    qint64 memoryBudget = 0;
    // Where self-update packets are kept for the next release; empty: the
    // user's cache folder.
    QString cacheFolder;
    // Where the summary goes as JSON; empty: nowhere.
    QString summaryJsonFile;

    // Names of the release classes in the order the configuration uses.
    static QStringList allOsTags();
};
