#include "hostilearchive.h"

#include <QFile>

namespace {

enum Property : char
{
    End = 0x00,
    Header = 0x01,
    MainStreamsInfo = 0x04,
    FilesInfo = 0x05,
    PackInfo = 0x06,
    UnpackInfo = 0x07,
    SubStreamsInfo = 0x08,
    Size = 0x09,
    Crc = 0x0A,
    Folder = 0x0B,
    CodersUnpackSize = 0x0C,
    NumUnpackStream = 0x0D,
    EmptyStream = 0x0E,
    EmptyFile = 0x0F,
    Name = 0x11,
    ModificationTime = 0x14,
    Attributes = 0x15,
};

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

template <typename T> void appendLittleEndian(QByteArray *out, T value)
{
    for (unsigned i = 0; i < sizeof(T); ++i)
        out->append(char((quint64(value) >> (8 * i)) & 0xFF));
}

// The format's variable-length number: the count of leading one bits of the
// first byte tells how many little-endian bytes follow.
void appendNumber(QByteArray *out, quint64 value)
{
    for (int extra = 0; extra <= 8; ++extra) {
        if (extra < 8 && value >= (quint64(1) << (7 * (extra + 1))))
            continue;
        const quint8 marker = quint8(0xFF00 >> extra);
        const quint8 high = extra < 8 ? quint8(value >> (8 * extra)) : 0;
        out->append(char(marker | high));
        for (int i = 0; i < extra; ++i)
            out->append(char((value >> (8 * i)) & 0xFF));
        return;
    }
}

QByteArray bitVector(const QVector<bool> &bits)
{
    QByteArray out((bits.size() + 7) / 8, '\0');
    for (int i = 0; i < bits.size(); ++i) {
        if (bits[i])
            out[i / 8] = char(out[i / 8] | (0x80 >> (i % 8)));
    }
    return out;
}

void appendProperty(QByteArray *out, Property id, const QByteArray &content)
{
    out->append(char(id));
    appendNumber(out, quint64(content.size()));
    out->append(content);
}

} // namespace

void HostileArchive::addFile(const QString &path, const QByteArray &data, quint32 unixMode,
                             const QDateTime &modified)
{
    m_items.append({path, data, false, attributesFor(unixMode, false), modified});
}

void HostileArchive::addFolder(const QString &path, quint32 unixMode, const QDateTime &modified)
{
    m_items.append({path, QByteArray(), true, attributesFor(unixMode, true), modified});
}

void HostileArchive::addSymlink(const QString &path, const QString &target)
{
    m_items.append({path, target.toUtf8(), false, attributesFor(0120777, false), defaultTime()});
}

void HostileArchive::addUntimedFile(const QString &path, const QByteArray &data)
{
    m_items.append({path, data, false, attributesFor(0100644, false), QDateTime()});
}

QDateTime HostileArchive::defaultTime()
{
    return QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 890), Qt::UTC);
}

quint32 HostileArchive::attributesFor(quint32 unixMode, bool folder)
{
    const quint32 plain = folder ? 0x10 : 0x20;
    return unixMode == 0 ? plain : plain | 0x8000 | (unixMode << 16);
}

QByteArray HostileArchive::build() const
{
    QByteArray packed;
    QVector<quint64> streamSizes;
    QVector<quint32> streamCrcs;
    QVector<bool> emptyStream, emptyFile;
    QByteArray names(1, '\0');
    QVector<bool> timed;
    QByteArray times, attributes;
    for (const Item &item : m_items) {
        const bool empty = item.data.isEmpty();
        emptyStream.append(empty);
        if (empty) {
            emptyFile.append(!item.folder);
        } else {
            packed.append(item.data);
            streamSizes.append(quint64(item.data.size()));
            streamCrcs.append(crc32(item.data));
        }
        for (const QChar c : item.path)
            appendLittleEndian(&names, c.unicode());
        appendLittleEndian(&names, quint16(0));
        timed.append(item.modified.isValid());
        if (item.modified.isValid()) {
            // Windows file time: 100 ns steps since 1601.
            appendLittleEndian(&times, quint64(item.modified.toMSecsSinceEpoch()) * 10000 +
                                           Q_UINT64_C(116444736000000000));
        }
        appendLittleEndian(&attributes, item.attributes);
    }

    QByteArray header(1, Header);
    if (!streamSizes.isEmpty()) {
        header.append(MainStreamsInfo);
        header.append(PackInfo);
        appendNumber(&header, 0);
        appendNumber(&header, 1);
        header.append(Size);
        appendNumber(&header, quint64(packed.size()));
        header.append(End);
        header.append(UnpackInfo);
        header.append(Folder);
        appendNumber(&header, 1);
        header.append('\0');      // not external
        appendNumber(&header, 1); // one coder
        header.append('\x01');    // one id byte, simple coder
        header.append('\x00');    // Copy
        header.append(CodersUnpackSize);
        appendNumber(&header, quint64(packed.size()));
        header.append(End);
        header.append(SubStreamsInfo);
        header.append(NumUnpackStream);
        appendNumber(&header, quint64(streamSizes.size()));
        if (streamSizes.size() > 1) {
            header.append(Size);
            for (int i = 0; i < streamSizes.size() - 1; ++i)
                appendNumber(&header, streamSizes[i]);
        }
        header.append(Crc);
        header.append('\x01'); // all defined
        for (const quint32 crc : streamCrcs)
            appendLittleEndian(&header, crc);
        header.append(End);
        header.append(End);
    }
    header.append(FilesInfo);
    appendNumber(&header, quint64(m_items.size()));
    if (emptyStream.contains(true)) {
        appendProperty(&header, EmptyStream, bitVector(emptyStream));
        appendProperty(&header, EmptyFile, bitVector(emptyFile));
    }
    appendProperty(&header, Name, names);
    if (timed.contains(true)) {
        const bool allTimed = !timed.contains(false);
        QByteArray content(1, allTimed ? '\x01' : '\x00');
        if (!allTimed)
            content.append(bitVector(timed));
        content.append('\0'); // not external
        content.append(times);
        appendProperty(&header, ModificationTime, content);
    }
    appendProperty(&header, Attributes, QByteArray("\x01\x00", 2) + attributes);
    header.append(End);
    header.append(End);

    QByteArray startHeader;
    appendLittleEndian(&startHeader, quint64(packed.size()));
    appendLittleEndian(&startHeader, quint64(header.size()));
    appendLittleEndian(&startHeader, crc32(header));
    QByteArray archive("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    appendLittleEndian(&archive, crc32(startHeader));
    return archive + startHeader + packed + header;
}

bool HostileArchive::write(const QString &fileName) const
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(build()) >= 0 && file.flush();
}
