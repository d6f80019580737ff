#pragma once

#include "kezocameraglobal.h"

#include <QImage>
#include <QObject>
#include <QThread>

class QCamera;

// One open camera. Capture starts in the constructor and stops in the
// destructor; frames arrive through imageReady, emitted on the capture
// backend's thread, so receivers on another thread get them queued.
class KEZOCAMERA_EXPORT KezoFrontCamera : public QObject
{
    Q_OBJECT

public:
    // `device` is a KezoAVDeviceInfo::deviceName in UTF-8; width and height are
    // a request the device may not meet exactly.
    KezoFrontCamera(const char *device, int width, int height);
    ~KezoFrontCamera() override;

    // How many cameras are open in this process, so that a host can check that
    // it released its camera.
    static int openCameras();

signals:
    void imageReady(const QImage &image);

private:
    void openSynthetic(const QSize &size);
    void openReal(const QByteArray &device, const QSize &size);

    QThread syntheticThread;
    QCamera *camera = nullptr;
};
