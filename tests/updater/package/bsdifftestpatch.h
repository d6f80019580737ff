#pragma once

#include "releasecontract/bsdiff40format.h"

#include <QByteArray>

// Builds BSDIFF40 patch files piece by piece, so that tests can state valid
// and damaged patches exactly instead of depending on what a diff tool emits.
class BsdiffTestPatch
{
public:
    explicit BsdiffTestPatch(qint64 newSize) : newSize(newSize) {}

    void addTriple(qint64 addLength, qint64 copyLength, qint64 seek);

    // The header with the true block lengths, then the three bzip2 blocks.
    QByteArray bytes() const;
    qint64 controlBlockLength() const;
    qint64 diffBlockLength() const;

    // A patch that ignores the old file and yields content from the extra block.
    static QByteArray copying(const QByteArray &content);
    // Eight bytes, little-endian magnitude with the sign in the top bit.
    static QByteArray value(qint64 number);
    static QByteArray compressed(const QByteArray &data);

    QByteArray magic = Bsdiff40Format::magic();
    QByteArray control;
    QByteArray diff;
    QByteArray extra;
    qint64 newSize;
};
