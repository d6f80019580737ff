#pragma once

#include "releasecontract/patchentry.h"

#include <QByteArray>
#include <QJsonArray>
#include <QString>

// The values of the downloaded update configuration, a JSON document keyed
// first by the release class (osTag). The readers never fail loudly: whatever
// is missing or of the wrong type reads as empty, and each reader returns
// whether the values it needs are all present.
class UpdateConfig
{
public:
    // Self-update packet of osTag; true when its sum and its URL are both set.
    bool getFixUpdateInfo(const QString &osTag);
    // Full installer of osTag; true when its sum and its URL are both set.
    bool getInstallerInfo(const QString &osTag);
    // Partial and replace packets for updating from version, and the files to
    // patch; true when all four packet values are set.
    bool getPartialPacketInfo(const QString &osTag, const QString &version);

    QString configPath;
    QByteArray installerMd5;
    QString installerUrl;
    QByteArray replacePacketMd5;
    QString replacePacketUrl;
    QByteArray partialPacketMd5;
    QString partialPacketUrl;
    QString fixUpdatePacketUrl;
    QByteArray fixUpdatePacketMd5;
    QJsonArray fixUpdateUesedVersion;
    // Grows over the reads of one process: entries are added or replaced,
    // never removed.
    PatchList modify;
};
