#include "codedpicture.h"

#include <QImage>

QPixmap codedPicture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            image.setPixel(x, y, qRgb(x & 0xff, y & 0xff, ((x >> 8) << 4) | (y >> 8)));
        }
    }
    return QPixmap::fromImage(image);
}

QPoint pictureCoordinates(QRgb pixel)
{
    return QPoint(qRed(pixel) | ((qBlue(pixel) >> 4) << 8),
                  qGreen(pixel) | ((qBlue(pixel) & 0xf) << 8));
}

QRect codedArea(const QPixmap &cut)
{
    if (cut.isNull()) {
        return QRect();
    }
    return QRect(pictureCoordinates(cut.toImage().pixel(0, 0)), cut.size());
}
