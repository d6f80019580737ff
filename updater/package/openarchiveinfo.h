#pragma once

#include <QString>
#include <QStringList>
#include <memory>

struct archive;
struct archive_entry;

namespace Lib7z {

class OpenArchiveInfoCleaner;
class QIODeviceInStream;

// One opened archive of a device. libarchive reads forward only, so the
// record keeps the first header that opening read, and an extraction marks
// the record spent; the next use of the device opens the archive again.
class OpenArchiveInfo
{
public:
    OpenArchiveInfo();
    ~OpenArchiveInfo();

    archive *arc = nullptr;
    std::unique_ptr<QIODeviceInStream> inStream;
    OpenArchiveInfoCleaner *cleaner = nullptr;
    // Split volumes are read by libarchive itself, from their file names.
    QStringList volumes;
    // The first header, read while opening, and the status of reading it.
    archive_entry *firstEntry = nullptr;
    int firstStatus = 0;
    // Name for the single item of a compressed file that is not an archive.
    QString rawItemName;
    quint64 totalSize = 0;
    bool spent = false;

private:
    Q_DISABLE_COPY(OpenArchiveInfo)
};

} // namespace Lib7z
