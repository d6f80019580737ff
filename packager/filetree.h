#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The files of an installation tree, by path relative to its root, with
// their sizes and MD5 sums (as the updater computes them). Folders count only
// through the files in them.
class FileTree
{
public:
    struct File
    {
        qint64 size = 0;
        QByteArray md5;
    };

    // Reads the tree at root, summing its files on every core. False with
    // errorString() for a tree that cannot be installed or read: a link, a
    // name the updater would not write, or an unreadable file.
    bool scan(const QString &root);

    QString root() const { return m_root; }
    const QMap<QString, File> &files() const { return m_files; }
    QString path(const QString &relativePath) const;
    QString errorString() const { return m_errorString; }

private:
    QString m_root;
    QMap<QString, File> m_files;
    QString m_errorString;
};
