#pragma once

#include "package/archiveitem.h"
#include "package/extractcallback.h"
#include "package/openarchiveinfo.h"
#include "package/sevenzipexception.h"

#include <QString>
#include <QVector>
#include <functional>

class QIODevice;

// A small facade over 7-Zip's archive code that reads 7z archives (and lzma,
// lzma86 and xz compressed files and split 7z volumes) from a QIODevice and
// unpacks them through Qt files, and writes 7z archives from Qt files. No
// code outside this module includes 7-Zip's headers.
namespace Lib7z {

// Makes the formats and coders the facade reads ready. Idempotent, thread-safe.
void registerArchiveCodecs();

// Unpacks every item of the archive on the device into the directory. Returns
// false when an item fails; throws SevenZipException when the archive cannot
// be opened or the directory's parent cannot be created.
bool extractToDirectory(QIODevice *archive, const QString &directory,
                        ExtractCallback *callback = nullptr);

// The cached record of the device's archive, opened on first use (may throw).
// The record lives until the device is destroyed.
OpenArchiveInfo *openArchiveFor(QIODevice *device);
// Removes the device's record from the cache and hands it over, or null.
OpenArchiveInfo *takeArchiveFor(QIODevice *device);

// Writes the items, in this order, into a new 7z archive at `path` with
// 7-Zip's own 7z writer and its default choices: LZMA2 in solid blocks, with
// the branch filter for the programs and libraries among the items (found by
// their names, their modes and their first bytes). Needs a program linked
// with the writer (see third_party/7zip). `progress`, when given, hears the
// bytes read so far of all the items' bytes. Throws SevenZipException when
// that fails; no archive is left then.
using ArchiveProgress = std::function<void(quint64 done, quint64 total)>;
void createArchive(const QString &path, const QVector<ArchiveItem> &items,
                   const ArchiveProgress &progress = {});

} // namespace Lib7z
