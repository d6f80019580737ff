#include "packager/bsdiff.h"

#include "releasecontract/bsdiff40format.h"

#include <bzlib.h>
#include <climits>
#include <cstring>
#include <divsufsort.h>
#include <vector>

namespace {

using Bytes = const unsigned char *;

qint64 matchLength(Bytes a, qint64 aSize, Bytes b, qint64 bSize)
{
    const qint64 limit = qMin(aSize, bSize);
    qint64 length = 0;
    while (length < limit && a[length] == b[length])
        ++length;
    return length;
}

// The longest match of `target` among the old data's suffixes, by binary
// search over the suffix array (whose first entry is the empty suffix).
qint64 longestMatch(const std::vector<saidx_t> &suffixes, Bytes old, qint64 oldSize, Bytes target,
                    qint64 targetSize, qint64 *position)
{
    qint64 start = 0;
    qint64 end = oldSize;
    while (end - start >= 2) {
        const qint64 middle = start + (end - start) / 2;
        const qint64 at = suffixes[size_t(middle)];
        if (std::memcmp(old + at, target, size_t(qMin(oldSize - at, targetSize))) < 0)
            start = middle;
        else
            end = middle;
    }
    const qint64 atStart = suffixes[size_t(start)];
    const qint64 atEnd = suffixes[size_t(end)];
    const qint64 startLength = matchLength(old + atStart, oldSize - atStart, target, targetSize);
    const qint64 endLength = matchLength(old + atEnd, oldSize - atEnd, target, targetSize);
    if (startLength > endLength) {
        *position = atStart;
        return startLength;
    }
    *position = atEnd;
    return endLength;
}

// One bzip2 stream of the whole block at the highest compression level.
bool compressBlock(const QByteArray &block, QByteArray *out)
{
    // bzip2's documented bound: 1% more than the input plus 600 bytes.
    const qint64 bound = qint64(block.size()) + block.size() / 100 + 600;
    if (bound > INT_MAX)
        return false;
    const int start = out->size();
    out->resize(start + int(bound));
    unsigned int length = unsigned(bound);
    const int result = BZ2_bzBuffToBuffCompress(out->data() + start, &length,
                                                const_cast<char *>(block.constData()),
                                                unsigned(block.size()), 9, 0, 0);
    out->resize(result == BZ_OK ? start + int(length) : start);
    return result == BZ_OK;
}

} // namespace

QByteArray bsdiff(const QByteArray &oldData, const QByteArray &newData)
{
    const Bytes old = reinterpret_cast<Bytes>(oldData.constData());
    const Bytes fresh = reinterpret_cast<Bytes>(newData.constData());
    const qint64 oldSize = oldData.size();
    const qint64 newSize = newData.size();

    std::vector<saidx_t> suffixes(size_t(oldSize) + 1);
    suffixes[0] = saidx_t(oldSize);
    if (oldSize > 0 && divsufsort(old, suffixes.data() + 1, saidx_t(oldSize)) != 0)
        return QByteArray();

    QByteArray control;
    QByteArray difference;
    QByteArray extra;
    difference.reserve(int(newSize));

    // Scans the new data for a match in the old data that is clearly better
    // (more than 8 bytes) than just going on from the last match; the span in
    // between becomes one control triple.
    qint64 scan = 0;
    qint64 length = 0;
    qint64 position = 0;
    qint64 lastScan = 0;
    qint64 lastPosition = 0;
    qint64 lastOffset = 0;
    while (scan < newSize) {
        qint64 oldScore = 0;
        scan += length;
        for (qint64 scored = scan; scan < newSize; ++scan) {
            length = longestMatch(suffixes, old, oldSize, fresh + scan, newSize - scan, &position);
            for (; scored < scan + length; ++scored) {
                if (scored + lastOffset < oldSize && old[scored + lastOffset] == fresh[scored])
                    ++oldScore;
            }
            if ((length == oldScore && length != 0) || length > oldScore + 8)
                break;
            if (scan + lastOffset < oldSize && old[scan + lastOffset] == fresh[scan])
                --oldScore;
        }
        if (length == oldScore && scan != newSize)
            continue;

        // Extends the last match forwards and the new one backwards as far as
        // at least half of the bytes agree.
        qint64 forward = 0;
        for (qint64 i = 0, same = 0, best = 0; lastScan + i < scan && lastPosition + i < oldSize;) {
            if (old[lastPosition + i] == fresh[lastScan + i])
                ++same;
            ++i;
            if (same * 2 - i > best * 2 - forward) {
                best = same;
                forward = i;
            }
        }
        qint64 backward = 0;
        if (scan < newSize) {
            for (qint64 i = 1, same = 0, best = 0; scan >= lastScan + i && position >= i; ++i) {
                if (old[position - i] == fresh[scan - i])
                    ++same;
                if (same * 2 - i > best * 2 - backward) {
                    best = same;
                    backward = i;
                }
            }
        }
        // Where the two extensions overlap, the split that keeps most
        // agreeing bytes wins.
        if (lastScan + forward > scan - backward) {
            const qint64 overlap = (lastScan + forward) - (scan - backward);
            qint64 split = 0;
            for (qint64 i = 0, same = 0, best = 0; i < overlap; ++i) {
                if (fresh[lastScan + forward - overlap + i] ==
                    old[lastPosition + forward - overlap + i])
                    ++same;
                if (fresh[scan - backward + i] == old[position - backward + i])
                    --same;
                if (same > best) {
                    best = same;
                    split = i + 1;
                }
            }
            forward += split - overlap;
            backward -= split;
        }

        for (qint64 i = 0; i < forward; ++i)
            difference.append(char(fresh[lastScan + i] - old[lastPosition + i]));
        const qint64 extraLength = (scan - backward) - (lastScan + forward);
        extra.append(reinterpret_cast<const char *>(fresh + lastScan + forward), int(extraLength));
        Bsdiff40Format::appendValue(&control, forward);
        Bsdiff40Format::appendValue(&control, extraLength);
        Bsdiff40Format::appendValue(&control, (position - backward) - (lastPosition + forward));

        lastScan = scan - backward;
        lastPosition = position - backward;
        lastOffset = position - scan;
    }

    // The suffix array is the largest part of the memory; compressing does
    // not need it.
    std::vector<saidx_t>().swap(suffixes);

    QByteArray patch = Bsdiff40Format::magic();
    Bsdiff40Format::appendValue(&patch, 0);
    Bsdiff40Format::appendValue(&patch, 0);
    Bsdiff40Format::appendValue(&patch, newSize);
    if (!compressBlock(control, &patch))
        return QByteArray();
    const qint64 controlLength = patch.size() - Bsdiff40Format::headerSize;
    if (!compressBlock(difference, &patch))
        return QByteArray();
    const qint64 differenceLength = patch.size() - Bsdiff40Format::headerSize - controlLength;
    if (!compressBlock(extra, &patch))
        return QByteArray();
    QByteArray lengths;
    Bsdiff40Format::appendValue(&lengths, controlLength);
    Bsdiff40Format::appendValue(&lengths, differenceLength);
    patch.replace(8, 16, lengths);
    return patch;
}
