#pragma once

#include "releasecontract/patchentry.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The update configuration a release publishes: per release class the
// installer, the self-update packet and, per old version, the partial and
// replace packets with the files to patch.
class ReleaseConfiguration
{
public:
    struct Packet
    {
        QString url;
        QByteArray md5;
    };
    struct Update
    {
        QString oldVersion;
        Packet partial;
        Packet replace;
        PatchList patches;
    };
    struct ReleaseClass
    {
        Packet installer;
        Packet selfUpdate;
        QStringList selfUpdateFor;
        QVector<Update> updates;
    };

    // Starts from an existing configuration instead of an empty one. False
    // with errorString() when it cannot be read as a JSON object.
    bool load(const QString &path);

    // Sets the class's installer and self-update packet, adds its
    // self-update versions to those listed, and puts its updates in place of
    // any for the same old versions; the rest of the class stays.
    void setReleaseClass(const QString &osTag, const ReleaseClass &values);

    // What an earlier configuration brought that this release did not
    // write, one line per class: "win7: 5.0, 5.1".
    QStringList keptEntries(const QStringList &writtenOsTags,
                            const QStringList &writtenVersions) const;
    // A URL that the document names with two different sums: publishing
    // both files would overwrite one of them. Empty when there is none.
    QString conflictingUrl() const;
    // Every URL the document names, with the MD5 named beside it.
    QHash<QString, QByteArray> packetSums() const;

    QByteArray toJson() const;
    QString errorString() const { return m_errorString; }

private:
    QJsonObject m_document;
    QString m_errorString;
};
