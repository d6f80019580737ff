#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>

// A test picture in which every pixel carries its own coordinates, so that a
// cut or crop tells where in the picture it was taken from: red and green hold
// the low bytes of x and y, blue their high nibbles.
QPixmap codedPicture(const QSize &size);

// The picture coordinates that a pixel of a coded picture carries.
QPoint pictureCoordinates(QRgb pixel);

// The part of a coded picture that a cut of it shows; empty for a null cut.
QRect codedArea(const QPixmap &cut);
