#include "packager/filetree.h"

#include "packager/packagerplatform.h"
#include "releasecontract/filemd5.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QtConcurrent>
#include <functional>

bool FileTree::scan(const QString &root, Links links)
{
    m_root = QDir(root).absolutePath();
    m_files.clear();
    m_folders.clear();
    m_errorString.clear();
    if (!QFileInfo(m_root).isDir()) {
        m_errorString = QStringLiteral("%1 is not a folder").arg(root);
        return false;
    }
    const QDir base(m_root);
    QDirIterator::IteratorFlags flags = QDirIterator::Subdirectories;
    if (links == Links::Followed)
        flags |= QDirIterator::FollowSymlinks;
    QDirIterator entries(
        m_root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, flags);
    QStringList problems;
    const auto undecodable = [&](const QString &folder, const QString &relative) {
        for (const QString &name : PackagerPlatform::undecodableNames(folder))
            problems.append(
                QStringLiteral("%1%2: a name that is not valid UTF-8")
                    .arg(relative.isEmpty() ? QString() : relative + QLatin1Char('/'), name));
    };
    undecodable(m_root, QString());
    QStringList paths;
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const QString relative = base.relativeFilePath(entry.filePath());
        if (entry.isSymLink() && links == Links::Refused) {
            problems.append(relative + QStringLiteral(": a link, which a packet cannot carry "
                                                      "(--dereference-links packs its target)"));
        } else if (entry.isSymLink() && !entry.exists()) {
            problems.append(relative + QStringLiteral(": a link to nothing"));
        } else if (entry.isDir()) {
            m_folders.insert(relative);
            undecodable(entry.filePath(), relative);
        } else if (entry.isFile()) {
            paths.append(relative);
        } else {
            problems.append(relative + QStringLiteral(": not a plain file"));
        }
    }

    const std::function<QByteArray(const QString &)> sum = [this](const QString &relative) {
        return fileMd5(path(relative));
    };
    const QList<QByteArray> sums = QtConcurrent::blockingMapped<QList<QByteArray>>(paths, sum);
    for (int i = 0; i < paths.size(); ++i) {
        if (sums.at(i).isEmpty())
            problems.append(paths.at(i) + QStringLiteral(": cannot be read"));
        else
            m_files.insert(paths.at(i), File{QFileInfo(path(paths.at(i))).size(), sums.at(i)});
    }
    if (problems.isEmpty())
        return true;
    problems.sort();
    m_errorString = listing(root, problems);
    return false;
}

QString FileTree::path(const QString &relativePath) const
{
    return m_root + QLatin1Char('/') + relativePath;
}

QString FileTree::listing(const QString &what, const QStringList &problems)
{
    return what + QStringLiteral(":\n  ") + problems.join(QStringLiteral("\n  "));
}
