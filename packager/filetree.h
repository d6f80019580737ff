#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// The files of an installation tree, by path relative to its root, with
// their sizes and MD5 sums (as the updater computes them), and its folders.
class FileTree
{
public:
    struct File
    {
        qint64 size = 0;
        QByteArray md5;
    };
    enum class Links
    {
        Refused,
        // A link counts as what it points to, a file or a folder.
        Followed,
    };

    // Reads the tree at root, summing its files on every core. False with
    // errorString() naming every entry that a packet cannot carry (a link
    // unless links are followed, a link to nothing, something that is
    // neither file nor folder, a name that is no text) or that cannot be
    // read.
    bool scan(const QString &root, Links links = Links::Refused);

    QString root() const { return m_root; }
    const QMap<QString, File> &files() const { return m_files; }
    // Every folder below the root, empty ones too.
    const QSet<QString> &folders() const { return m_folders; }
    QString path(const QString &relativePath) const;
    QString errorString() const { return m_errorString; }

    // "what:" and one indented line per problem, for a refusal that names
    // everything at once.
    static QString listing(const QString &what, const QStringList &problems);

private:
    QString m_root;
    QMap<QString, File> m_files;
    QSet<QString> m_folders;
    QString m_errorString;
};
