#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// One file of the update configuration's patch list: the MD5 sums before and
// after patching and the patch's path inside the extracted partial packet.
struct PatchEntry
{
    QByteArray oldFileMd5;
    QByteArray newFileMd5;
    QString filePatch;
};

// The patch list keyed by the file's path relative to the installation
// directory, walked in key order.
using PatchList = QMap<QString, PatchEntry>;
