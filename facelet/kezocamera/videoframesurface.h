#pragma once

#include <QAbstractVideoSurface>
#include <QImage>

// Receives a real camera's frames from Qt Multimedia and hands each one on as
// an image, on whatever thread the backend presents it.
class VideoFrameSurface : public QAbstractVideoSurface
{
    Q_OBJECT

public:
    explicit VideoFrameSurface(QObject *parent = nullptr);

    QList<QVideoFrame::PixelFormat>
    supportedPixelFormats(QAbstractVideoBuffer::HandleType type) const override;
    bool present(const QVideoFrame &frame) override;

signals:
    void frameReady(const QImage &frame);
};
