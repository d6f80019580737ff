#pragma once

#include <QByteArray>

// Makes the BSDIFF40 patch that turns oldData into newData: the suffix array
// of the old data finds the longest matches, approximate matches become the
// difference block, the rest the extra block, and the three blocks are bzip2
// streams. Both inputs must be below 2 GiB, the range the updater's applier
// reads. Returns an empty byte string when memory or bzip2 fails.
QByteArray bsdiff(const QByteArray &oldData, const QByteArray &newData);
