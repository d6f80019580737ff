#include "package/bspatch.h"

#include "releasecontract/bsdiff40format.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <bzlib.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

namespace {

const int HeaderSize = Bsdiff40Format::headerSize;
const int ValueSize = Bsdiff40Format::valueSize;

using Buffer = std::unique_ptr<unsigned char[]>;

void logFailure(const QString &text)
{
    qDebug() << text;
}

// For failures of the C library the system's reason follows the description.
void logSystemFailure(const QString &text)
{
    const int error = errno;
    qDebug() << text << qt_error_string(error);
}

void logCorruptPatch()
{
    logFailure(QStringLiteral("Corrupt patch\n"));
}

// Moves a position by a step unless the result would leave qint64's range.
bool advance(qint64 *position, qint64 step)
{
    if (step > 0 ? *position > std::numeric_limits<qint64>::max() - step
                 : *position < std::numeric_limits<qint64>::min() - step)
        return false;
    *position += step;
    return true;
}

// Both files are held with one spare byte; an empty buffer means the size
// cannot be reserved on this platform or right now.
Buffer reserve(qint64 size)
{
    if (size < 0 || quint64(size) >= std::numeric_limits<size_t>::max())
        return Buffer();
    return Buffer(new (std::nothrow) unsigned char[size_t(size) + 1]);
}

// One compressed block of the patch, decompressed as a stream through its own
// handle on the patch file.
class BlockReader
{
public:
    explicit BlockReader(const QByteArray &patchPath) : path(patchPath) {}
    BlockReader(const BlockReader &) = delete;
    BlockReader &operator=(const BlockReader &) = delete;
    ~BlockReader() { close(); }

    bool open(qint64 offset)
    {
        file = std::fopen(path.constData(), "rb");
        if (!file) {
            logSystemFailure(QString::asprintf("fopen(%s)", path.constData()));
            return false;
        }
        // std::fseek takes a long, which is 32 bits on Windows: an offset past
        // its range is refused rather than wrapped.
        if (offset > std::numeric_limits<long>::max() ||
            std::fseek(file, long(offset), SEEK_SET) != 0) {
            logSystemFailure(
                QString::asprintf("fseeko(%s, %lld)", path.constData(), (long long)offset));
            return false;
        }
        int bzError = BZ_OK;
        stream = BZ2_bzReadOpen(&bzError, file, 0, 0, nullptr, 0);
        if (bzError != BZ_OK) {
            stream = nullptr;
            logFailure(QString::asprintf("BZ2_bzReadOpen, bz2err = %d", bzError));
            return false;
        }
        return true;
    }

    // length lies in [0, 2^31) as every decoded patch value does.
    bool read(unsigned char *buffer, qint64 length)
    {
        int bzError = BZ_OK;
        const int got = BZ2_bzRead(&bzError, stream, buffer, int(length));
        if (got < length || (bzError != BZ_OK && bzError != BZ_STREAM_END)) {
            logCorruptPatch();
            return false;
        }
        return true;
    }

    bool close()
    {
        if (stream) {
            int bzError = BZ_OK;
            BZ2_bzReadClose(&bzError, stream);
            stream = nullptr;
        }
        if (!file)
            return true;
        const bool closed = std::fclose(file) == 0;
        file = nullptr;
        if (!closed)
            logSystemFailure(QString::asprintf("fclose(%s)", path.constData()));
        return closed;
    }

private:
    const QByteArray path;
    FILE *file = nullptr;
    BZFILE *stream = nullptr;
};

struct Header
{
    qint64 controlLength = 0;
    qint64 diffLength = 0;
    qint64 newSize = 0;
};

bool readHeader(const QByteArray &patchPath, Header *header)
{
    FILE *file = std::fopen(patchPath.constData(), "rb");
    if (!file) {
        logSystemFailure(QString::asprintf("fopen(%s)", patchPath.constData()));
        return false;
    }
    unsigned char bytes[HeaderSize];
    const bool complete = std::fread(bytes, 1, HeaderSize, file) == size_t(HeaderSize);
    const bool atEnd = std::feof(file) != 0;
    const int readError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!complete) {
        errno = readError;
        if (atEnd)
            logCorruptPatch();
        else
            logSystemFailure(QString::asprintf("fread(%s)", patchPath.constData()));
        return false;
    }
    if (QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), 8) !=
            Bsdiff40Format::magic() ||
        !Bsdiff40Format::decodeValue(bytes + 8, &header->controlLength) ||
        !Bsdiff40Format::decodeValue(bytes + 16, &header->diffLength) ||
        !Bsdiff40Format::decodeValue(bytes + 24, &header->newSize) || header->controlLength < 0 ||
        header->diffLength < 0 || header->newSize < 0) {
        logCorruptPatch();
        return false;
    }
    if (!closed) {
        logSystemFailure(QString::asprintf("fclose(%s)", patchPath.constData()));
        return false;
    }
    return true;
}

bool readOldFile(const QByteArray &oldPath, Buffer *data, qint64 *size)
{
    QFile file(QString::fromLocal8Bit(oldPath));
    if (file.open(QIODevice::ReadOnly)) {
        *size = file.size();
        *data = reserve(*size);
        if (*data && file.read(reinterpret_cast<char *>(data->get()), *size) == *size)
            return true;
    }
    logFailure(QString::fromLocal8Bit(oldPath));
    return false;
}

// Runs the control triples: each adds old bytes to difference bytes, copies
// extra bytes and moves the old position. Every length is checked against the
// room left in the new buffer before anything is written to it.
bool rebuild(BlockReader &control, BlockReader &diff, BlockReader &extra,
             const unsigned char *oldData, qint64 oldSize, unsigned char *newData, qint64 newSize)
{
    qint64 oldPos = 0;
    qint64 newPos = 0;
    while (newPos < newSize) {
        unsigned char bytes[3 * ValueSize];
        qint64 addLength = 0;
        qint64 copyLength = 0;
        qint64 seek = 0;
        if (!control.read(bytes, sizeof bytes))
            return false;
        if (!Bsdiff40Format::decodeValue(bytes, &addLength) ||
            !Bsdiff40Format::decodeValue(bytes + ValueSize, &copyLength) ||
            !Bsdiff40Format::decodeValue(bytes + 2 * ValueSize, &seek) || addLength < 0 ||
            copyLength < 0 || addLength > newSize - newPos) {
            logCorruptPatch();
            return false;
        }
        unsigned char *target = newData + newPos;
        if (!diff.read(target, addLength))
            return false;
        qint64 oldEnd = oldPos;
        if (!advance(&oldEnd, addLength)) {
            logCorruptPatch();
            return false;
        }
        // Positions outside the old file leave the difference byte as it is.
        const qint64 from = qBound(qint64(0), oldPos, oldSize);
        const qint64 to = qBound(qint64(0), oldEnd, oldSize);
        for (qint64 i = from; i < to; ++i)
            target[i - oldPos] += oldData[i];
        newPos += addLength;
        oldPos = oldEnd;

        if (copyLength > newSize - newPos) {
            logCorruptPatch();
            return false;
        }
        if (!extra.read(newData + newPos, copyLength))
            return false;
        newPos += copyLength;
        if (!advance(&oldPos, seek)) {
            logCorruptPatch();
            return false;
        }
    }
    return true;
}

// The new file appears under its name only once it is complete.
bool writeNewFile(const QByteArray &newPath, const unsigned char *data, qint64 size)
{
    QSaveFile file(QString::fromLocal8Bit(newPath));
    if (file.open(QIODevice::WriteOnly) &&
        file.write(reinterpret_cast<const char *>(data), size) == size && file.commit())
        return true;
    logFailure(QString::fromLocal8Bit(newPath));
    return false;
}

} // namespace

int bspatchFile(const QByteArray &oldPath, const QByteArray &newPath, const QByteArray &patchPath)
{
    Header header;
    if (!readHeader(patchPath, &header))
        return 1;

    BlockReader control(patchPath);
    BlockReader diff(patchPath);
    BlockReader extra(patchPath);
    if (!control.open(HeaderSize) || !diff.open(HeaderSize + header.controlLength) ||
        !extra.open(HeaderSize + header.controlLength + header.diffLength))
        return 1;

    Buffer oldData;
    qint64 oldSize = 0;
    if (!readOldFile(oldPath, &oldData, &oldSize))
        return 1;
    const Buffer newData = reserve(header.newSize);
    if (!newData)
        return 1;

    if (!rebuild(control, diff, extra, oldData.get(), oldSize, newData.get(), header.newSize))
        return 1;
    bool closed = control.close();
    closed = diff.close() && closed;
    closed = extra.close() && closed;
    if (!closed)
        return 1;

    return writeNewFile(newPath, newData.get(), header.newSize) ? 0 : 1;
}
