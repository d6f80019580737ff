#pragma once

#include <QByteArray>
#include <QtGlobal>

// The BSDIFF40 patch format as the packager writes it and the updater reads
// it: a 32-byte header ("BSDIFF40", the lengths of the compressed control and
// difference blocks, the new file's size), then three bzip2 blocks. Every
// number is eight bytes, little-endian magnitude with the sign in the top bit
// of the eighth byte.
class Bsdiff40Format
{
public:
    static const int headerSize = 32;
    static const int valueSize = 8;

    static QByteArray magic() { return QByteArrayLiteral("BSDIFF40"); }

    static void appendValue(QByteArray *out, qint64 value);
    // Reads the number at `bytes`. The updater's applier keeps sizes and
    // offsets in 32 bits, so a magnitude beyond the signed 32-bit range is
    // refused (false) as a damaged patch rather than wrapped around.
    static bool decodeValue(const unsigned char *bytes, qint64 *value);
};
