#include "foldertree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace FolderTree {

Tree read(const QString &root, Folders folders, const QStringList &leftOut)
{
    Tree tree;
    const QDir base(root);
    QDirIterator entries(root,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const QString path = base.relativeFilePath(entry.filePath());
        if (path.contains(QLatin1Char('/')) &&
            leftOut.contains(path.section(QLatin1Char('/'), 0, 0)))
            continue;
        if (entry.isDir() && !entry.isSymLink()) {
            const bool listed = folders == Folders::All ||
                                (folders == Folders::Empty && QDir(entry.filePath()).isEmpty());
            if (listed)
                tree.insert(path + QLatin1Char('/'), QByteArray());
            continue;
        }
        QFile file(entry.filePath());
        tree.insert(path, file.open(QIODevice::ReadOnly) ? file.readAll()
                                                         : QByteArrayLiteral("<unreadable>"));
    }
    return tree;
}

bool write(const QString &root, const Tree &tree)
{
    for (auto it = tree.constBegin(); it != tree.constEnd(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        if (it.key().endsWith(QLatin1Char('/'))) {
            if (!QDir().mkpath(path))
                return false;
            continue;
        }
        QFile file(path);
        if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
            file.write(it.value()) != it.value().size())
            return false;
    }
    return QDir().mkpath(root);
}

} // namespace FolderTree
