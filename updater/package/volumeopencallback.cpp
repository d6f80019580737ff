#include "package/volumeopencallback.h"

#include "CPP/Windows/PropVariant.h"
#include "package/qiodeviceinstream.h"

#include <QDir>
#include <QFile>

namespace Lib7z {

VolumeOpenCallback::VolumeOpenCallback(QIODevice *device)
{
    if (const auto file = qobject_cast<QFile *>(device))
        m_file = QFileInfo(file->fileName());
}

VolumeOpenCallback::~VolumeOpenCallback() = default;

Z7_COM7F_IMF(VolumeOpenCallback::SetTotal(const UInt64 *, const UInt64 *))
{
    return S_OK;
}

Z7_COM7F_IMF(VolumeOpenCallback::SetCompleted(const UInt64 *, const UInt64 *))
{
    return S_OK;
}

Z7_COM7F_IMF(VolumeOpenCallback::GetProperty(PROPID propID, PROPVARIANT *value))
{
    NWindows::NCOM::CPropVariant property;
    if (propID == kpidName && !m_file.filePath().isEmpty())
        property = m_file.fileName().toStdWString().c_str();
    return property.Detach(value);
}

Z7_COM7F_IMF(VolumeOpenCallback::GetStream(const wchar_t *name, IInStream **inStream))
{
    *inStream = nullptr;
    const QString volumeName = QString::fromWCharArray(name);
    // Only a sibling of the archive's own file, never a path elsewhere.
    if (m_file.filePath().isEmpty() || volumeName.contains(QLatin1Char('/')) ||
        volumeName.contains(QLatin1Char('\\')))
        return S_FALSE;
    auto volume = std::make_unique<QFile>(m_file.dir().filePath(volumeName));
    if (!volume->open(QIODevice::ReadOnly))
        return S_FALSE;
    CMyComPtr<IInStream> stream = new QIODeviceInStream(volume.get());
    m_volumes.push_back(std::move(volume));
    *inStream = stream.Detach();
    return S_OK;
}

} // namespace Lib7z
