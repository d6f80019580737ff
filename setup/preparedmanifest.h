#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// The sums of a prepared folder's files, which the updater writes beside the
// folder once it has made and checked them, and from which the setup program
// installs nothing else:
//
//   <prepared folder>.manifest   {"format": 1, "osTag": "...", "version": "...",
//                                 "files": {"<relative path>": "<md5>", ...}}
//
// "osTag" and "version" say which part of the update configuration the
// files were made for, so that the setup program checks the sums against it.
class PreparedManifest
{
public:
    static QString pathFor(const QString &packetPath);
    // The files below `packetPath`, relative, sorted; false with *error when
    // an entry is a link or anything else that cannot be installed.
    static bool listFiles(const QString &packetPath, QStringList *files, QString *error);
    // Sums every file of `packetPath` and writes the manifest beside it.
    static bool write(const QString &packetPath, const QString &osTag, const QString &version,
                      QString *error);

    bool read(const QString &packetPath, QString *error);

    QString osTag;
    QString version;
    QMap<QString, QByteArray> sums;
};
