#pragma once

#include "packetitem.h"

#include <QString>
#include <QVector>

// Writes 7z packets with 7-Zip's own 7z writer and its default choices: LZMA2
// in solid blocks, with the branch filter for the programs and libraries
// among the items (found by their names, their Unix modes and their first
// bytes, as 7-Zip does).
class PacketWriter
{
public:
    // Writes the items, in this order, into a new archive at path. False
    // with errorString() when that fails; no archive is left then.
    bool write(const QString &path, const QVector<PacketItem> &items);
    QString errorString() const { return m_errorString; }

private:
    QString m_errorString;
};
