#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/Archive/IArchive.h"
#include "CPP/Common/MyCom.h"

#include <QFileInfo>
#include <QString>
#include <memory>
#include <vector>

class QFile;
class QIODevice;

namespace Lib7z {

// The library's open callback: it names the archive and hands out the other
// volumes of a split archive ("x.7z.002" beside "x.7z.001"), read through Qt
// files that live as long as the callback.
class VolumeOpenCallback final : public IArchiveOpenCallback,
                                 public IArchiveOpenVolumeCallback,
                                 public CMyUnknownImp
{
    Z7_COM_UNKNOWN_IMP_2(IArchiveOpenCallback, IArchiveOpenVolumeCallback)

public:
    // Volumes are found only when the device is a file.
    explicit VolumeOpenCallback(QIODevice *device);
    ~VolumeOpenCallback();

    Z7_IFACE_COM7_IMP(IArchiveOpenCallback)
    Z7_IFACE_COM7_IMP(IArchiveOpenVolumeCallback)

    // The device's file name, empty for other devices.
    QString fileName() const { return m_file.filePath(); }

private:
    Z7_CLASS_NO_COPY(VolumeOpenCallback)

    QFileInfo m_file;
    std::vector<std::unique_ptr<QFile>> m_volumes;
};

} // namespace Lib7z
