#include "extractcallbackimpl.h"

#include "directoryguard.h"
#include "extractcallback.h"
#include "openarchiveinfo.h"
#include "qiodevicesequentialoutstream.h"
#include "sevenzipexception.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <archive.h>
#include <archive_entry.h>

namespace Lib7z {

namespace {

QString libraryError(archive *arc)
{
    return QString::fromUtf8(archive_error_string(arc));
}

// The stored path with backslashes turned into slashes and without a trailing
// slash; false when libarchive could not convert it.
bool storedPath(archive_entry *entry, QString *path)
{
    const char *utf8 = archive_entry_pathname_utf8(entry);
    if (!utf8)
        return false;
    *path = QString::fromUtf8(utf8).replace(QLatin1Char('\\'), QLatin1Char('/'));
    // libarchive ends folder names with a slash.
    while (path->size() > 1 && path->endsWith(QLatin1Char('/')))
        path->chop(1);
    return true;
}

// Absolute paths, drive letters and ".." components would lead out of the
// target directory.
bool leavesTargetDirectory(const QString &path)
{
    static const QRegularExpression driveLetter(QStringLiteral("^[A-Za-z]:"));
    return path.startsWith(QLatin1Char('/')) || driveLetter.match(path).hasMatch() ||
           path.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

// The stored Unix mode as Qt permissions; the owner's bits become the user's.
// For an item stored without Unix bits libarchive makes up exactly one of
// these three modes, and such an item keeps the permissions it was written with.
bool unixPermissions(mode_t mode, QFile::Permissions *permissions)
{
    if (mode == (AE_IFDIR | 0777) || mode == (AE_IFREG | 0666) || mode == (AE_IFREG | 0444))
        return false;
    const int bits = int(mode & 0xFFFF);
    *permissions = QFile::Permissions((bits & 0x7) | ((bits & 0x38) << 1) | ((bits & 0x1C0) << 2));
    return true;
}

QDateTime timeOf(time_t seconds, long nanoseconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(seconds) * 1000 + nanoseconds / 1000000);
}

// Not every platform can set a birth time (this one cannot), so only the
// other two decide whether the times could be set.
bool setTimes(QFile &file, const QDateTime &created, const QDateTime &accessed,
              const QDateTime &modified)
{
    if (!file.setFileTime(modified, QFileDevice::FileModificationTime) ||
        !file.setFileTime(accessed, QFileDevice::FileAccessTime))
        return false;
    file.setFileTime(created, QFileDevice::FileBirthTime);
    return true;
}

// Failures are ignored: an item keeps the times of its writing then. Folders
// cannot be opened as files and always keep them.
void setFileTimes(const QString &path, archive_entry *entry)
{
    if (!archive_entry_mtime_is_set(entry))
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QDateTime modified = timeOf(archive_entry_mtime(entry), archive_entry_mtime_nsec(entry));
    if (!setTimes(file, modified, modified, modified))
        return;
    if (archive_entry_ctime_is_set(entry) && archive_entry_atime_is_set(entry)) {
        setTimes(file, timeOf(archive_entry_ctime(entry), archive_entry_ctime_nsec(entry)),
                 timeOf(archive_entry_atime(entry), archive_entry_atime_nsec(entry)), modified);
    }
}

} // namespace

ExtractCallbackImpl::ExtractCallbackImpl(ExtractCallback *callback) : m_callback(callback) {}

ExtractCallbackImpl::~ExtractCallbackImpl() = default;

bool ExtractCallbackImpl::extractAll(OpenArchiveInfo *info)
{
    m_arc = info->arc;
    setTotal(info->totalSize);
    archive_entry *entry = info->firstEntry;
    int status = info->firstStatus;
    for (quint32 index = 0;; ++index) {
        if (index > 0)
            status = archive_read_next_header(m_arc, &entry);
        if (status == ARCHIVE_EOF)
            return true;
        if (status != ARCHIVE_OK) {
            qDebug() << "Could not read item" << index << libraryError(m_arc);
            return false;
        }
        if (!info->rawItemName.isEmpty())
            archive_entry_update_pathname_utf8(entry, info->rawItemName.toUtf8().constData());

        std::unique_ptr<QIODeviceSequentialOutStream> stream;
        if (!getStream(index, entry, &stream))
            return false;
        if (stream) {
            const bool written = writeData(stream.get());
            stream.reset();
            if (!written) {
                // Nothing of a damaged item stays, not even the folder made for it.
                QFile::remove(m_currentFile);
                m_itemFolder.reset();
                return false;
            }
            m_itemFolder->keep();
            m_itemFolder.reset();
        }
        if (!setOperationResult(entry))
            return false;
    }
}

bool ExtractCallbackImpl::setCompleted(quint64 completed)
{
    m_completed = completed;
    return m_total == 0 || m_callback->progressUpdated(m_completed, m_total);
}

QString ExtractCallbackImpl::itemFile(const QString &path) const
{
    return QFileInfo(QStringLiteral("%1/%2").arg(m_targetDirectory, path)).absoluteFilePath();
}

bool ExtractCallbackImpl::getStream(quint32 index, archive_entry *entry,
                                    std::unique_ptr<QIODeviceSequentialOutStream> *stream)
{
    stream->reset();
    if (m_targetDirectory.isEmpty())
        return false;
    m_currentIndex = index;
    QString path;
    if (!storedPath(entry, &path)) {
        qDebug() << "Could not read the path of item" << m_currentIndex;
        return false;
    }
    if (leavesTargetDirectory(path)) {
        qDebug() << "Item path leads out of the target directory:" << path;
        return false;
    }
    m_currentFile = itemFile(path);
    if (archive_entry_filetype(entry) == AE_IFLNK) {
        qDebug() << tr("Creating a link from archive is not implemented for windows. Link "
                       "filename: %1")
                        .arg(m_currentFile);
        return false;
    }

    const bool isFolder = archive_entry_filetype(entry) == AE_IFDIR;
    // A file without a name of its own would take the target directory's place.
    if (!isFolder && QDir::cleanPath(QStringLiteral("./") + path) == QLatin1String(".")) {
        qDebug() << "File item without a name:" << path;
        return false;
    }
    try {
        const QFileInfo item(m_currentFile);
        auto guard = std::make_unique<DirectoryGuard>(item.path());
        const QStringList created = guard->createMissing();
        if (isFolder) {
            QDir(item.path()).mkdir(item.fileName());
            if (!QFileInfo(m_currentFile).isDir()) {
                qDebug() << "Could not create folder item" << m_currentFile;
                return false;
            }
        }
        for (const QString &folder : created)
            m_callback->fileStarted(folder);
        if (!isFolder && !m_callback->approveFile(m_currentFile)) {
            qDebug() << "File not approved" << m_currentFile;
            return false;
        }
        m_callback->fileStarted(m_currentFile);
        if (!isFolder) {
            auto output = std::make_unique<QIODeviceSequentialOutStream>(new QFile(m_currentFile));
            if (output->hasError()) {
                qDebug() << "Could not open" << m_currentFile << output->errorString();
                return false;
            }
            *stream = std::move(output);
            // The folder is kept once the item's data are written.
            m_itemFolder = std::move(guard);
            return true;
        }
        guard->keep();
        return true;
    } catch (const SevenZipException &e) {
        qDebug() << "Could not prepare" << m_currentFile << e.message();
        return false;
    }
}

bool ExtractCallbackImpl::writeData(QIODeviceSequentialOutStream *stream)
{
    quint64 written = 0;
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(m_arc, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return true;
        // A warning here is a bad checksum: the item's data is damaged.
        if (status != ARCHIVE_OK) {
            qDebug() << "Damaged item" << m_currentFile << libraryError(m_arc);
            return false;
        }
        if (quint64(offset) != written) {
            qDebug() << "Damaged item" << m_currentFile << "data out of order at" << offset;
            return false;
        }
        quint64 processed = 0;
        if (!stream->write(block, size, &processed) || processed != size) {
            qDebug() << "Could not write" << m_currentFile << stream->errorString();
            return false;
        }
        written += size;
        if (!setCompleted(quint64(archive_filter_bytes(m_arc, -1)))) {
            qDebug() << "Extraction stopped at" << m_currentFile;
            return false;
        }
    }
}

bool ExtractCallbackImpl::setOperationResult(archive_entry *entry)
{
    if (m_targetDirectory.isEmpty())
        return true;
    QFile::Permissions permissions;
    const bool hasPermissions = unixPermissions(archive_entry_mode(entry), &permissions);
    QString path;
    if (!storedPath(entry, &path))
        return false;
    const QString file = itemFile(path);
    if (!file.isEmpty())
        setFileTimes(file, entry);
    if (hasPermissions)
        QFile::setPermissions(file, permissions);
    return true;
}

} // namespace Lib7z
