#include "packager/filetree.h"

#include "releasecontract/filemd5.h"
#include "releasecontract/relativepath.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QtConcurrent>
#include <functional>

bool FileTree::scan(const QString &root)
{
    m_root = QDir(root).absolutePath();
    m_files.clear();
    m_errorString.clear();
    if (!QFileInfo(m_root).isDir()) {
        m_errorString = QStringLiteral("%1 is not a folder").arg(root);
        return false;
    }
    const QDir base(m_root);
    QDirIterator entries(m_root,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    QStringList paths;
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const QString relative = base.relativeFilePath(entry.filePath());
        if (entry.isSymLink()) {
            m_errorString =
                QStringLiteral("%1: a link, which a packet cannot carry").arg(entry.filePath());
            return false;
        }
        if (entry.isDir())
            continue;
        if (!entry.isFile()) {
            m_errorString = QStringLiteral("%1: not a plain file").arg(entry.filePath());
            return false;
        }
        // The updater refuses such names (a colon, a backslash) on Windows.
        if (!staysInsideFolder(relative) || relative.contains(QLatin1Char('\\'))) {
            m_errorString = QStringLiteral("%1: a name the updater cannot install on Windows")
                                .arg(entry.filePath());
            return false;
        }
        paths.append(relative);
    }

    const std::function<QByteArray(const QString &)> sum = [this](const QString &relative) {
        return fileMd5(path(relative));
    };
    const QList<QByteArray> sums = QtConcurrent::blockingMapped<QList<QByteArray>>(paths, sum);
    for (int i = 0; i < paths.size(); ++i) {
        if (sums.at(i).isEmpty()) {
            m_errorString = QStringLiteral("%1: cannot be read").arg(path(paths.at(i)));
            return false;
        }
        m_files.insert(paths.at(i), File{QFileInfo(path(paths.at(i))).size(), sums.at(i)});
    }
    return true;
}

QString FileTree::path(const QString &relativePath) const
{
    return m_root + QLatin1Char('/') + relativePath;
}
