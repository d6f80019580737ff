#include "syntheticframesource.h"

#include <QDebug>
#include <QFileInfo>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>

namespace {
QString testVariable()
{
    return qEnvironmentVariable("KEZO_CAMERA_TEST");
}
} // namespace

bool SyntheticFrameSource::isEnabled()
{
    return qEnvironmentVariableIsSet("KEZO_CAMERA_TEST");
}

SyntheticFrameSource::SyntheticFrameSource(const QSize &patternSize) : patternSize(patternSize)
{
    const QString path = testVariable();
    if (!QFileInfo(path).isFile())
        return;
    QImageReader reader(path);
    while (reader.canRead()) {
        const QImage frame = reader.read();
        if (frame.isNull())
            break;
        fileFrames.append(frame);
    }
    if (fileFrames.isEmpty())
        qDebug() << "test camera cannot read" << path << reader.errorString();
}

void SyntheticFrameSource::start()
{
    timer = new QTimer(this);
    timer->setInterval(frameInterval);
    connect(timer, &QTimer::timeout, this, &SyntheticFrameSource::deliverFrame);
    timer->start();
    deliverFrame();
}

void SyntheticFrameSource::deliverFrame()
{
    const QImage frame =
        fileFrames.isEmpty() ? patternFrame() : fileFrames.at(frameNumber % fileFrames.size());
    ++frameNumber;
    emit frameReady(frame);
}

// A left-to-right colour ramp with a white block in the top-left corner (so a
// mirrored picture is recognisable) and a bar that sweeps across the picture.
QImage SyntheticFrameSource::patternFrame() const
{
    const int width = patternSize.width();
    const int height = patternSize.height();
    QImage frame(patternSize, QImage::Format_RGB32);
    QPainter painter(&frame);
    QLinearGradient ramp(0, 0, width, 0);
    ramp.setColorAt(0, QColor(20, 40, 160));
    ramp.setColorAt(1, QColor(230, 140, 20));
    painter.fillRect(frame.rect(), ramp);
    painter.fillRect(QRect(0, 0, width / 8, height / 8), Qt::white);
    const int barWidth = qMax(1, width / 16);
    const int barX = (frameNumber * 8) % qMax(1, width - barWidth);
    painter.fillRect(QRect(barX, height / 4, barWidth, height / 2), QColor(40, 200, 90));
    return frame;
}
