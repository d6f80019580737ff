#include "kezofrontcamera.h"

#include "syntheticframesource.h"

#include <QAtomicInt>
#include <QDebug>

#ifdef KEZOCAMERA_REAL_CAMERAS
#include "videoframesurface.h"

#include <QCamera>
#include <QCameraViewfinderSettings>
#endif

namespace {
QAtomicInt liveCameras;
} // namespace

KezoFrontCamera::KezoFrontCamera(const char *device, int width, int height)
{
    liveCameras.ref();
    const QByteArray deviceName(device ? device : "");
    const QSize size = width > 0 && height > 0 ? QSize(width, height) : QSize(640, 480);
    if (deviceName == SyntheticFrameSource::deviceName)
        openSynthetic(size);
    else
        openReal(deviceName, size);
}

KezoFrontCamera::~KezoFrontCamera()
{
#ifdef KEZOCAMERA_REAL_CAMERAS
    if (camera)
        camera->stop();
#endif
    // The synthetic source is deleted on its own thread as that thread ends.
    syntheticThread.quit();
    syntheticThread.wait();
    liveCameras.deref();
}

int KezoFrontCamera::openCameras()
{
    return liveCameras.loadAcquire();
}

void KezoFrontCamera::openSynthetic(const QSize &size)
{
    auto *source = new SyntheticFrameSource(size);
    source->moveToThread(&syntheticThread);
    connect(&syntheticThread, &QThread::started, source, &SyntheticFrameSource::start);
    connect(&syntheticThread, &QThread::finished, source, &QObject::deleteLater);
    // Emitted straight from the source's thread, as a capture backend would.
    connect(source, &SyntheticFrameSource::frameReady, this, &KezoFrontCamera::imageReady,
            Qt::DirectConnection);
    syntheticThread.setObjectName(QStringLiteral("KezoTestCamera"));
    syntheticThread.start();
}

void KezoFrontCamera::openReal(const QByteArray &device, const QSize &size)
{
#ifndef KEZOCAMERA_REAL_CAMERAS
    // A build without Qt Multimedia knows the synthetic camera alone.
    qDebug() << "no camera" << device << size;
#else
    camera = new QCamera(device, this);
    auto *surface = new VideoFrameSurface(this);
    connect(surface, &VideoFrameSurface::frameReady, this, &KezoFrontCamera::imageReady,
            Qt::DirectConnection);
    connect(camera, QOverload<QCamera::Error>::of(&QCamera::error), this,
            [this](QCamera::Error error) {
                qDebug() << "camera error" << error << camera->errorString();
            });
    camera->setViewfinder(surface);
    camera->setCaptureMode(QCamera::CaptureViewfinder);
    camera->load();
    if (camera->supportedViewfinderResolutions().contains(size)) {
        QCameraViewfinderSettings settings;
        settings.setResolution(size);
        camera->setViewfinderSettings(settings);
    }
    camera->start();
#endif
}
