#include "package/updatecallbackimpl.h"

#include "CPP/Windows/PropVariant.h"
#include "package/qiodeviceinstream.h"

#include <QFile>
#include <memory>

namespace Lib7z {

namespace {

// How 7-Zip stores a Unix mode: in the high 16 bits, flagged by 0x8000,
// beside the Windows directory and read-only bits.
const UInt32 unixExtension = 0x8000;
const UInt32 windowsReadOnly = 0x01;
const UInt32 windowsDirectory = 0x10;
const UInt32 unixRegularFile = 0100000;
const UInt32 unixDirectory = 0040000;

UInt32 attributes(const ArchiveItem &item)
{
    static const struct
    {
        QFileDevice::Permission permission;
        UInt32 mode;
    } modeBits[] = {
        {QFileDevice::ReadOwner, 0400},  {QFileDevice::WriteOwner, 0200},
        {QFileDevice::ExeOwner, 0100},   {QFileDevice::ReadGroup, 0040},
        {QFileDevice::WriteGroup, 0020}, {QFileDevice::ExeGroup, 0010},
        {QFileDevice::ReadOther, 0004},  {QFileDevice::WriteOther, 0002},
        {QFileDevice::ExeOther, 0001},
    };
    UInt32 mode = item.isFolder() ? unixDirectory : unixRegularFile;
    for (const auto &bit : modeBits) {
        if (item.permissions & bit.permission)
            mode |= bit.mode;
    }
    UInt32 windows = item.isFolder() ? windowsDirectory : 0;
    if (!(item.permissions & QFileDevice::WriteOwner))
        windows |= windowsReadOnly;
    return mode << 16 | unixExtension | windows;
}

// Windows file time: 100 ns steps since 1601.
FILETIME fileTime(const QDateTime &time)
{
    const quint64 sinceEpoch1601 = 116444736000000000ULL;
    const quint64 value = quint64(time.toMSecsSinceEpoch()) * 10000 + sinceEpoch1601;
    FILETIME result;
    result.dwLowDateTime = DWORD(value & 0xffffffffu);
    result.dwHighDateTime = DWORD(value >> 32);
    return result;
}

} // namespace

UpdateCallbackImpl::UpdateCallbackImpl(const QVector<ArchiveItem> &items,
                                       const ArchiveProgress &progress)
    : m_items(items), m_progress(progress)
{}

Z7_COM7F_IMF(UpdateCallbackImpl::SetTotal(UInt64 total))
{
    m_total = total;
    return S_OK;
}

Z7_COM7F_IMF(UpdateCallbackImpl::SetCompleted(const UInt64 *completed))
{
    if (completed && m_progress)
        m_progress(*completed, m_total);
    return S_OK;
}

Z7_COM7F_IMF(UpdateCallbackImpl::GetUpdateItemInfo(UInt32, Int32 *newData, Int32 *newProps,
                                                   UInt32 *indexInArchive))
{
    // Every item is new: packets are always written from scratch.
    if (newData)
        *newData = 1;
    if (newProps)
        *newProps = 1;
    if (indexInArchive)
        *indexInArchive = UInt32(-1);
    return S_OK;
}

Z7_COM7F_IMF(UpdateCallbackImpl::GetProperty(UInt32 index, PROPID propID, PROPVARIANT *value))
{
    if (index >= UInt32(m_items.size()))
        return E_INVALIDARG;
    const ArchiveItem &item = m_items.at(int(index));
    NWindows::NCOM::CPropVariant property;
    switch (propID) {
    case kpidPath:
        property = UString(item.name.toStdWString().c_str());
        break;
    case kpidIsDir:
        property = item.isFolder();
        break;
    case kpidSize:
        property = UInt64(item.size);
        break;
    case kpidAttrib:
        property = attributes(item);
        break;
    case kpidMTime:
        if (item.modified.isValid())
            property = fileTime(item.modified);
        break;
    case kpidIsAnti:
        property = false;
        break;
    default:
        break;
    }
    return property.Detach(value);
}

Z7_COM7F_IMF(UpdateCallbackImpl::GetStream(UInt32 index, ISequentialInStream **inStream))
{
    return openStream(index, inStream);
}

Z7_COM7F_IMF(UpdateCallbackImpl::SetOperationResult(Int32))
{
    return S_OK;
}

Z7_COM7F_IMF(UpdateCallbackImpl::GetStream2(UInt32 index, ISequentialInStream **inStream, UInt32))
{
    return openStream(index, inStream);
}

Z7_COM7F_IMF(UpdateCallbackImpl::ReportOperation(UInt32, UInt32, UInt32))
{
    return S_OK;
}

HRESULT UpdateCallbackImpl::openStream(UInt32 index, ISequentialInStream **stream)
{
    *stream = nullptr;
    if (index >= UInt32(m_items.size()))
        return E_INVALIDARG;
    const ArchiveItem &item = m_items.at(int(index));
    if (item.isFolder())
        return S_OK;
    auto file = std::make_unique<QFile>(item.sourcePath);
    if (!file->open(QIODevice::ReadOnly)) {
        if (m_errorString.isEmpty())
            m_errorString = item.sourcePath + QStringLiteral(": ") + file->errorString();
        return E_FAIL;
    }
    CMyComPtr<ISequentialInStream> opened = new QIODeviceInStream(std::move(file));
    *stream = opened.Detach();
    return S_OK;
}

} // namespace Lib7z
