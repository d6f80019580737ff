#pragma once

#include <QString>
#include <QStringList>

class FileTree;

// What the updater and the setup program can bring into an installation on
// Windows, where names are case-blind, and where an update adds and replaces
// files but removes nothing. Each problem is one line "path: why".
class InstallCheck
{
public:
    // Names of the tree that no installation can hold: names Windows refuses
    // (device names, <>:"/\|?* and control characters, a trailing dot or
    // blank, text that is not valid Unicode), names equal but for case, and
    // the top-level names the updater and the setup program keep for
    // themselves.
    static QStringList nameProblems(const FileTree &tree);
    // What goes wrong when the files of `brought` are laid over the
    // installation `installed` of version `version`: a file where a folder
    // stays or the reverse, and a name equal but for case to one that stays.
    static QStringList overlayProblems(const FileTree &installed, const FileTree &brought,
                                       const QString &version);

private:
    // The problem of one name (a path's last part), or empty.
    static QString nameProblem(const QString &name);
    static QString reservedProblem(const QString &topLevelName);
};
