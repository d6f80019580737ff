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
    // The updater's run-time folder; empty: this build's update and Trellim.exe.
    QString updaterFolder;
    QStringList selfUpdateFor;
    QStringList osTags;
    QString mergeFile;
    // The secret key that signs the configuration; empty: it is not signed.
    QString signingKeyFile;
    // Days after signing until the signed release is refused; 0: never.
    int expiresInDays = 0;

    // Names of the release classes in the order the configuration uses.
    static QStringList allOsTags();
};
