#include "videoframesurface.h"

VideoFrameSurface::VideoFrameSurface(QObject *parent) : QAbstractVideoSurface(parent) {}

// The formats that QVideoFrame::image() converts; the backend picks one.
QList<QVideoFrame::PixelFormat>
VideoFrameSurface::supportedPixelFormats(QAbstractVideoBuffer::HandleType type) const
{
    if (type != QAbstractVideoBuffer::NoHandle)
        return {};
    return {QVideoFrame::Format_RGB32,  QVideoFrame::Format_ARGB32,  QVideoFrame::Format_RGB24,
            QVideoFrame::Format_RGB565, QVideoFrame::Format_BGR32,   QVideoFrame::Format_YUYV,
            QVideoFrame::Format_UYVY,   QVideoFrame::Format_YUV420P, QVideoFrame::Format_YV12,
            QVideoFrame::Format_NV12,   QVideoFrame::Format_NV21,    QVideoFrame::Format_Jpeg};
}

bool VideoFrameSurface::present(const QVideoFrame &frame)
{
    const QImage image = frame.image();
    if (image.isNull())
        return false;
    emit frameReady(image);
    return true;
}
