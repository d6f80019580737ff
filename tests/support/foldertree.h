#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// A folder's content in one value that tests write and compare: files by path
// relative to the folder with their bytes, folders as "path/" without bytes.
// Hidden entries count. A link reads as what it points to, but a linked
// folder is not entered.
namespace FolderTree {

using Tree = QMap<QString, QByteArray>;

enum class Folders
{
    None,  // files only
    Empty, // folders that hold nothing
    All,
};

// `leftOut`: top-level folders whose contents are not read.
Tree read(const QString &root, Folders folders = Folders::All, const QStringList &leftOut = {});
// Writes every file of `tree` below `root`, and makes its "path/" folders and
// `root` itself; false when something cannot be written.
bool write(const QString &root, const Tree &tree);

} // namespace FolderTree
