#include "bsdifftestpatch.h"

#include <QtGlobal>
#include <bzlib.h>

void BsdiffTestPatch::addTriple(qint64 addLength, qint64 copyLength, qint64 seek)
{
    control += value(addLength) + value(copyLength) + value(seek);
}

QByteArray BsdiffTestPatch::bytes() const
{
    const QByteArray controlBlock = compressed(control);
    const QByteArray diffBlock = compressed(diff);
    return magic + value(controlBlock.size()) + value(diffBlock.size()) + value(newSize) +
           controlBlock + diffBlock + compressed(extra);
}

qint64 BsdiffTestPatch::controlBlockLength() const
{
    return compressed(control).size();
}

qint64 BsdiffTestPatch::diffBlockLength() const
{
    return compressed(diff).size();
}

QByteArray BsdiffTestPatch::copying(const QByteArray &content)
{
    BsdiffTestPatch patch(content.size());
    patch.addTriple(0, content.size(), 0);
    patch.extra = content;
    return patch.bytes();
}

QByteArray BsdiffTestPatch::value(qint64 number)
{
    QByteArray bytes;
    Bsdiff40Format::appendValue(&bytes, number);
    return bytes;
}

QByteArray BsdiffTestPatch::compressed(const QByteArray &data)
{
    // bzip2's documented worst case: 1% larger plus 600 bytes.
    unsigned int length = unsigned(data.size() + data.size() / 100 + 600);
    QByteArray out(int(length), '\0');
    if (BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char *>(data.constData()),
                                 unsigned(data.size()), 9, 0, 0) != BZ_OK)
        qFatal("bzip2 compression failed");
    out.truncate(int(length));
    return out;
}
