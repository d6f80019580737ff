#include "releasecontract/bsdiff40format.h"

#include <limits>

void Bsdiff40Format::appendValue(QByteArray *out, qint64 value)
{
    quint64 magnitude = value < 0 ? quint64(-value) : quint64(value);
    char bytes[valueSize];
    for (char &byte : bytes) {
        byte = char(magnitude & 0xff);
        magnitude >>= 8;
    }
    if (value < 0)
        bytes[valueSize - 1] = char(bytes[valueSize - 1] | 0x80);
    out->append(bytes, valueSize);
}

bool Bsdiff40Format::decodeValue(const unsigned char *bytes, qint64 *value)
{
    const quint32 magnitude = quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 |
                              quint32(bytes[3]) << 24;
    if (magnitude > quint32(std::numeric_limits<qint32>::max()))
        return false;
    *value = (bytes[valueSize - 1] & 0x80) ? -qint64(magnitude) : qint64(magnitude);
    return true;
}
