#pragma once

#include "package/extractcallback.h"
#include "package/openarchiveinfo.h"
#include "package/sevenzipexception.h"

#include <QString>

class QIODevice;

// A small facade over 7-Zip's archive code that reads 7z archives (and lzma,
// lzma86 and xz compressed files and split 7z volumes) from a QIODevice and
// unpacks them through Qt files.
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

} // namespace Lib7z
