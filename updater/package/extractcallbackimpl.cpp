#include "package/extractcallbackimpl.h"

#include "CPP/7zip/UI/Common/OpenArchive.h"
#include "CPP/Common/StringConvert.h"
#include "CPP/Windows/FileIO.h"
#include "CPP/Windows/PropVariant.h"
#include "CPP/Windows/TimeUtils.h"
#include "package/directoryguard.h"
#include "package/extractcallback.h"
#include "package/qiodevicesequentialoutstream.h"
#include "package/sevenzipexception.h"
#include "setup/setupplatform.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace Lib7z {

namespace {

using NWindows::NCOM::CPropVariant;

// The Unix mode bits of an attribute word (bit 15 says they are there).
const UInt32 unixExtension = 0x8000;
const UInt32 unixFileTypeMask = 0xF0000000;
const UInt32 unixSymbolicLink = 0xA0000000;

// Absolute paths, drive letters and ".." components would lead out of the
// target directory.
bool leavesTargetDirectory(const QString &path)
{
    static const QRegularExpression driveLetter(QStringLiteral("^[A-Za-z]:"));
    return path.startsWith(QLatin1Char('/')) || driveLetter.match(path).hasMatch() ||
           path.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

// The stored Unix mode as Qt permissions; the owner's bits become the user's.
QFile::Permissions unixPermissions(UInt32 attributes)
{
    const UInt32 mode = attributes >> 16;
    return QFile::Permissions(int((mode & 0x7) | ((mode & 0x38) << 1) | ((mode & 0x1C0) << 2)));
}

QString operationResultText(Int32 result)
{
    using namespace NArchive::NExtract::NOperationResult;
    switch (result) {
    case kUnsupportedMethod:
        return QStringLiteral("unsupported method");
    case kDataError:
        return QStringLiteral("data error");
    case kCRCError:
        return QStringLiteral("CRC error");
    case kUnavailable:
        return QStringLiteral("data unavailable");
    case kUnexpectedEnd:
        return QStringLiteral("unexpected end of data");
    case kDataAfterEnd:
        return QStringLiteral("data after the end of the item");
    case kIsNotArc:
        return QStringLiteral("not an archive");
    case kHeadersError:
        return QStringLiteral("headers error");
    case kWrongPassword:
        return QStringLiteral("encrypted");
    default:
        return QStringLiteral("result %1").arg(result);
    }
}

// Whether the format lists a path among its item properties; the single item
// of a compressed file has none and is named after the archive.
bool formatStoresNames(IInArchive *archive)
{
    UInt32 count = 0;
    if (archive->GetNumberOfProperties(&count) != S_OK)
        return true;
    for (UInt32 i = 0; i < count; ++i) {
        BSTR name = nullptr;
        PROPID property = 0;
        VARTYPE type = 0;
        if (archive->GetPropertyInfo(i, &name, &property, &type) != S_OK)
            continue;
        ::SysFreeString(name);
        if (property == kpidPath)
            return true;
    }
    return false;
}

bool fileTime(const CPropVariant &value, CFiTime *time)
{
    if (value.vt != VT_FILETIME)
        return false;
#ifdef _WIN32
    *time = value.filetime;
    return true;
#else
    return FILETIME_To_timespec(value.filetime, *time);
#endif
}

} // namespace

ExtractCallbackImpl::ExtractCallbackImpl(ExtractCallback *callback) : m_callback(callback) {}

ExtractCallbackImpl::~ExtractCallbackImpl() = default;

void ExtractCallbackImpl::setArc(const CArc *archive)
{
    m_arc = archive;
    m_namesStored = formatStoresNames(archive->Archive);
}

Z7_COM7F_IMF(ExtractCallbackImpl::SetTotal(UInt64 size))
{
    m_total = size;
    return S_OK;
}

Z7_COM7F_IMF(ExtractCallbackImpl::SetCompleted(const UInt64 *completeValue))
{
    if (!completeValue)
        return S_OK;
    m_completed = *completeValue;
    return m_total == 0 ? S_OK : m_callback->progressUpdated(m_completed, m_total);
}

Z7_COM7F_IMF(ExtractCallbackImpl::GetStream(UInt32 index, ISequentialOutStream **outStream,
                                            Int32 /*askExtractMode*/))
{
    *outStream = nullptr;
    dropCurrentItem();
    if (m_targetDirectory.isEmpty())
        return E_FAIL;
    const HRESULT prepared = prepareItem(index, outStream);
    if (prepared != S_OK)
        dropCurrentItem();
    return prepared;
}

HRESULT ExtractCallbackImpl::itemProperty(PROPID property, PROPVARIANT *value) const
{
    return m_arc->Archive->GetProperty(m_currentIndex, property, value);
}

QString ExtractCallbackImpl::refusalReason(const ItemFacts &item, const QString &targetFile)
{
    // In the log stream's notation: texts in double quotes.
    const auto line = [](const char *text, const QString &value) {
        return QStringLiteral("%1 \"%2\"").arg(QLatin1String(text), value);
    };
    if (leavesTargetDirectory(item.path))
        return line("Item path leads out of the target directory:", item.path);
    if (item.isLink)
        return QLatin1Char('"') +
               tr("Creating a link from archive is not implemented for windows. Link "
                  "filename: %1")
                   .arg(targetFile) +
               QLatin1Char('"');
    // An item that would delete a file on extraction.
    if (item.isAnti)
        return line("Deletion items are not supported:", item.path);
    // A file without a name of its own would take the target directory's place
    // or a name made up from the archive's.
    if (!item.isFolder &&
        (item.nameless || QDir::cleanPath(QStringLiteral("./") + item.path) == QLatin1String(".")))
        return line("File item without a name:", item.path);
    return QString();
}

bool ExtractCallbackImpl::readItemFacts(UInt32 index, ItemFacts *item) const
{
    UString storedPath;
    if (m_arc->GetItem_Path(index, storedPath) != S_OK) {
        qDebug() << "Could not read the path of item" << index;
        return false;
    }
    item->path = QString::fromWCharArray(storedPath.Ptr(), int(storedPath.Len()))
                     .replace(QLatin1Char('\\'), QLatin1Char('/'));
    CPropVariant storedName, attributes, symbolicLink, hardLink;
    if (Archive_IsItem_Dir(m_arc->Archive, index, item->isFolder) != S_OK ||
        m_arc->IsItem_Anti(index, item->isAnti) != S_OK ||
        itemProperty(kpidPath, &storedName) != S_OK ||
        itemProperty(kpidAttrib, &attributes) != S_OK ||
        itemProperty(kpidSymLink, &symbolicLink) != S_OK ||
        itemProperty(kpidHardLink, &hardLink) != S_OK) {
        qDebug() << "Could not read the properties of item" << index << item->path;
        return false;
    }
    const bool unixLink = attributes.vt == VT_UI4 && (attributes.ulVal & unixExtension) &&
                          (attributes.ulVal & unixFileTypeMask) == unixSymbolicLink;
    item->isLink = unixLink || symbolicLink.vt == VT_BSTR || hardLink.vt == VT_BSTR;
    item->nameless =
        m_namesStored && (storedName.vt != VT_BSTR || !storedName.bstrVal || !*storedName.bstrVal);
    return true;
}

HRESULT ExtractCallbackImpl::prepareItem(UInt32 index, ISequentialOutStream **outStream)
{
    m_currentIndex = index;
    ItemFacts item;
    if (!readItemFacts(index, &item))
        return E_FAIL;
    const bool isFolder = item.isFolder;
    m_currentIsFolder = isFolder;
    m_currentFile =
        QFileInfo(QStringLiteral("%1/%2").arg(m_targetDirectory, item.path)).absoluteFilePath();
    const QString refusal = refusalReason(item, m_currentFile);
    if (!refusal.isEmpty()) {
        qDebug().noquote() << refusal;
        return E_FAIL;
    }
    // Nothing is written through a link planted in the work folder: one on
    // the item's way is removed as a link.
    if (!SetupPlatform::removeLinksOnPath(m_targetDirectory, item.path))
        return E_FAIL;

    try {
        const QFileInfo item(m_currentFile);
        auto guard = std::make_unique<DirectoryGuard>(item.path());
        const QStringList created = guard->createMissing();
        m_currentFolder = std::move(guard);
        if (isFolder) {
            QDir(item.path()).mkdir(item.fileName());
            if (!QFileInfo(m_currentFile).isDir()) {
                qDebug() << "Could not create folder item" << m_currentFile
                         << "a file of that name is in the way";
                return E_FAIL;
            }
        }
        for (const QString &folder : created)
            m_callback->fileStarted(folder);
    } catch (const SevenZipException &e) {
        qDebug() << "Could not prepare" << m_currentFile << e.message();
        return E_FAIL;
    }
    if (!isFolder && !m_callback->approveFile(m_currentFile)) {
        qDebug() << "File not approved" << m_currentFile;
        return E_FAIL;
    }
    m_callback->fileStarted(m_currentFile);
    if (isFolder)
        return S_OK;

    // A read-only file from an earlier run is replaced like any other.
    const QFileInfo existing(m_currentFile);
    if (existing.isFile() && !existing.isWritable())
        QFile::setPermissions(m_currentFile, existing.permissions() | QFile::WriteUser);
    m_currentStream = new QIODeviceSequentialOutStream(new QFile(m_currentFile));
    m_currentStreamReference = m_currentStream;
    if (m_currentStream->hasError()) {
        qDebug() << "Could not open" << m_currentFile << m_currentStream->errorString();
        // Whatever is at that path is not ours to remove.
        m_currentStream = nullptr;
        m_currentStreamReference.Release();
        return E_FAIL;
    }
    m_currentFileCreated = true;
    *outStream = m_currentStreamReference;
    (*outStream)->AddRef();
    return S_OK;
}

Z7_COM7F_IMF(ExtractCallbackImpl::PrepareOperation(Int32 /*askExtractMode*/))
{
    return S_OK;
}

Z7_COM7F_IMF(ExtractCallbackImpl::SetOperationResult(Int32 opRes))
{
    if (m_targetDirectory.isEmpty())
        return S_OK;
    const HRESULT finished = finishItem(opRes);
    if (finished == S_OK) {
        if (m_currentFolder)
            m_currentFolder->keep();
        m_currentFolder.reset();
        m_currentFile.clear();
        m_currentFileCreated = false;
    } else {
        dropCurrentItem();
    }
    return finished;
}

HRESULT ExtractCallbackImpl::finishItem(Int32 operationResult)
{
    if (m_currentStream) {
        const bool closed = m_currentStream->close();
        const QString error = m_currentStream->errorString();
        m_currentStream = nullptr;
        m_currentStreamReference.Release();
        if (!closed) {
            qDebug() << "Could not write" << m_currentFile << error;
            return E_FAIL;
        }
    }
    if (operationResult != NArchive::NExtract::NOperationResult::kOK) {
        qDebug() << "Damaged item" << m_currentFile << operationResultText(operationResult);
        return E_FAIL;
    }

    CPropVariant attributes, created, accessed, modified;
    if (itemProperty(kpidAttrib, &attributes) != S_OK ||
        itemProperty(kpidCTime, &created) != S_OK || itemProperty(kpidATime, &accessed) != S_OK ||
        itemProperty(kpidMTime, &modified) != S_OK) {
        qDebug() << "Could not read the properties of" << m_currentFile;
        return E_FAIL;
    }

    // Failing to set times is no failure: the file keeps the times of its
    // writing then. Folders keep theirs.
    CFiTime times[3];
    if (!m_currentIsFolder && fileTime(modified, &times[2])) {
        const bool allStored = fileTime(created, &times[0]) && fileTime(accessed, &times[1]);
        if (!allStored)
            times[0] = times[1] = times[2];
        NWindows::NFile::NIO::COutFile file;
        if (file.Open_EXISTING(us2fs(UString(m_currentFile.toStdWString().c_str()))) &&
            file.SetTime(&times[0], &times[1], &times[2]))
            file.Close();
    }

    if (attributes.vt == VT_UI4 && (attributes.ulVal & unixExtension)) {
        const QFile::Permissions permissions = unixPermissions(attributes.ulVal);
        if (m_currentIsFolder)
            m_folderPermissions.append({m_currentFile, permissions});
        else if (!QFile::setPermissions(m_currentFile, permissions))
            qDebug() << "Could not set the permissions of" << m_currentFile;
    }
    return S_OK;
}

void ExtractCallbackImpl::abandonCurrentItem()
{
    if (m_currentStream && m_currentStream->hasError())
        qDebug() << "Could not write" << m_currentFile << m_currentStream->errorString();
    dropCurrentItem();
}

void ExtractCallbackImpl::dropCurrentItem()
{
    if (m_currentStream) {
        m_currentStream->close();
        m_currentStream = nullptr;
        m_currentStreamReference.Release();
    }
    if (m_currentFileCreated)
        QFile::remove(m_currentFile);
    m_currentFileCreated = false;
    m_currentFolder.reset();
    m_currentFile.clear();
}

void ExtractCallbackImpl::applyFolderPermissions()
{
    // Innermost first, so that a folder that cannot be entered any more never
    // hides one below it.
    std::stable_sort(m_folderPermissions.begin(), m_folderPermissions.end(),
                     [](const FolderPermissions &a, const FolderPermissions &b) {
                         return a.path.size() > b.path.size();
                     });
    for (const FolderPermissions &folder : qAsConst(m_folderPermissions)) {
        if (!QFile::setPermissions(folder.path, folder.permissions))
            qDebug() << "Could not set the permissions of" << folder.path;
    }
    m_folderPermissions.clear();
}

} // namespace Lib7z
