#include "kezoexternalmediamanager.h"

#include "syntheticframesource.h"

#ifdef KEZOCAMERA_REAL_CAMERAS
#include <QCameraInfo>
#endif

KezoExternalMediaManager *KezoExternalMediaManager::instance()
{
    static KezoExternalMediaManager manager;
    return &manager;
}

int KezoExternalMediaManager::listVideoDevices(std::vector<KezoAVDeviceInfo> &devices)
{
    const auto before = devices.size();
    // The synthetic camera goes first, so that a test opens it even on a
    // machine that has a real camera.
    if (SyntheticFrameSource::isEnabled()) {
        devices.push_back({QStringLiteral("Kezo test camera"),
                           QString::fromLatin1(SyntheticFrameSource::deviceName)});
    }
#ifdef KEZOCAMERA_REAL_CAMERAS
    const QList<QCameraInfo> cameras = QCameraInfo::availableCameras();
    for (const QCameraInfo &camera : cameras)
        devices.push_back({camera.description(), camera.deviceName()});
#endif
    return int(devices.size() - before);
}
