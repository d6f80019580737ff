#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// Writes small 7z archives (Copy coder, one solid block) item by item, with
// whatever paths, attributes and times a test needs, including the hostile
// ones that no archiver would produce.
class HostileArchive
{
public:
    // A Unix mode (as in stat) becomes the item's attribute word; a mode of 0
    // stores only the plain folder or file attribute, without Unix bits.
    void addFile(const QString &path, const QByteArray &data, quint32 unixMode = 0100644,
                 const QDateTime &modified = defaultTime());
    void addFolder(const QString &path, quint32 unixMode = 040755,
                   const QDateTime &modified = defaultTime());
    void addSymlink(const QString &path, const QString &target);
    // An item without any time property.
    void addUntimedFile(const QString &path, const QByteArray &data);

    QByteArray build() const;
    bool write(const QString &fileName) const;

    static QDateTime defaultTime();

private:
    struct Item
    {
        QString path;
        QByteArray data;
        bool folder;
        quint32 attributes;
        QDateTime modified;
    };
    static quint32 attributesFor(quint32 unixMode, bool folder);

    QVector<Item> m_items;
};
