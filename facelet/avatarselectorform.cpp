#include "avatarselectorform.h"

#include "ui_avatarselectorform.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>

namespace {
// Handle kinds are bit sets of the edges they move; corners combine two edges.
enum HandleEdge
{
    TopEdge = 1,
    BottomEdge = 2,
    LeftEdge = 4,
    RightEdge = 8
};
enum HandleKind
{
    NoHandle = 0,
    TopLeft = TopEdge | LeftEdge,
    TopRight = TopEdge | RightEdge,
    BottomLeft = BottomEdge | LeftEdge,
    BottomRight = BottomEdge | RightEdge
};

const int initialSelectionSide = 120;
const QColor outsideDim(0, 0, 0, 128);
const QColor cornerDim(0, 0, 0, 80);

// The extents at which a resize by the given handle of selection s makes the
// square touch an edge of picture b, on the growing side (positive values) and
// folded over its anchor (values of 0 or less).
QVector<int> extentLimits(int handle, const QRect &s, const QRect &b)
{
    const int cx = s.center().x();
    const int cy = s.center().y();
    switch (handle) {
    case TopEdge:
        return {s.bottom() - b.top(),    2 * (b.right() - cx), 2 * (cx - b.left()),
                s.bottom() - b.bottom(), 2 * (cx - b.right()), 2 * (b.left() - cx)};
    case BottomEdge:
        return {b.bottom() - s.top(), 2 * (b.right() - cx), 2 * (cx - b.left()),
                b.top() - s.top(),    2 * (cx - b.right()), 2 * (b.left() - cx)};
    case LeftEdge:
        return {s.right() - b.left(),  2 * (cy - b.top()), 2 * (b.bottom() - cy),
                s.right() - b.right(), 2 * (b.top() - cy), 2 * (cy - b.bottom())};
    case RightEdge:
        return {b.right() - s.left(), 2 * (cy - b.top()), 2 * (b.bottom() - cy),
                b.left() - s.left(),  2 * (b.top() - cy), 2 * (cy - b.bottom())};
    case TopLeft:
        return {s.right() - b.left(), s.bottom() - b.top(), s.right() - b.right(),
                s.bottom() - b.bottom()};
    case TopRight:
        return {b.right() - s.left(), s.bottom() - b.top(), b.left() - s.left(),
                s.bottom() - b.bottom()};
    case BottomLeft:
        return {s.right() - b.left(), b.bottom() - s.top(), s.right() - b.right(),
                b.top() - s.top()};
    case BottomRight:
        return {b.right() - s.left(), b.bottom() - s.top(), b.top() - s.top(), b.left() - s.left()};
    default:
        return {};
    }
}

void fillRegion(QPainter &painter, const QRegion &region, const QColor &colour)
{
    for (const QRect &rect : region) {
        painter.fillRect(rect, colour);
    }
}

Qt::CursorShape cursorFor(int handle)
{
    switch (handle) {
    case TopEdge:
    case BottomEdge:
        return Qt::SizeVerCursor;
    case LeftEdge:
    case RightEdge:
        return Qt::SizeHorCursor;
    case TopLeft:
    case BottomRight:
        return Qt::SizeFDiagCursor;
    case TopRight:
    case BottomLeft:
        return Qt::SizeBDiagCursor;
    default:
        return Qt::ArrowCursor;
    }
}
} // namespace

AvatarSelectorForm::AvatarSelectorForm(QWidget *parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::AvatarSelectorForm>()), handleKinds{TopEdge,    BottomEdge, LeftEdge,
                                                                  RightEdge,  TopLeft,    TopRight,
                                                                  BottomLeft, BottomRight}
{
    ui->setupUi(this);
    setMouseTracking(true);
}

AvatarSelectorForm::~AvatarSelectorForm() = default;

void AvatarSelectorForm::setPixmap(const QPixmap &newPixmap)
{
    if (newPixmap.isNull()) {
        qDebug() << "take image error";
        return;
    }
    pixmap = newPixmap;
    fitBackground();
    emitCrop();
}

// Fits the picture into the widget with its aspect ratio kept, centred along the
// direction in which it is too small.
void AvatarSelectorForm::fitBackground()
{
    const double pictureRatio = double(pixmap.width()) / pixmap.height();
    const double widgetRatio = double(width()) / height();
    QPoint offset;
    QSize change;
    if (widgetRatio > pictureRatio) {
        const int d = int(width() - height() * pictureRatio);
        offset = QPoint(d / 2, 0);
        change = QSize(-d, 0);
    } else {
        const int d = int(height() - width() / pictureRatio);
        offset = QPoint(0, d / 2);
        change = QSize(0, -d);
    }
    backgroundRect = QRect(rect().topLeft() + offset, size() + change);
    scaledPixmap = QPixmap();
    qDebug() << "backgroundRect" << backgroundRect;
    update();
}

void AvatarSelectorForm::emitCrop()
{
    // A widget without area shows no picture to select from; the crop is then
    // the empty rectangle, which stands for the whole picture.
    QRect crop;
    if (!backgroundRect.isEmpty()) {
        const double sx = double(pixmap.width()) / backgroundRect.width();
        const double sy = double(pixmap.height()) / backgroundRect.height();
        crop = QRect(int((selectionRect.x() - backgroundRect.left()) * sx),
                     int((selectionRect.y() - backgroundRect.top()) * sy),
                     int(selectionRect.width() * sx), int(selectionRect.height() * sy));
    }
    emit avatarSelected(pixmap.copy(crop));
}

QRect AvatarSelectorForm::handleRect(int kind) const
{
    if (kind == NoHandle) {
        return QRect();
    }
    QPoint point = selectionRect.center();
    if (kind & TopEdge) {
        point.setY(selectionRect.top());
    } else if (kind & BottomEdge) {
        point.setY(selectionRect.bottom());
    }
    if (kind & LeftEdge) {
        point.setX(selectionRect.left());
    } else if (kind & RightEdge) {
        point.setX(selectionRect.right());
    }
    const int half = handleSize / 2;
    return QRect(point - QPoint(half, half), point + QPoint(half, half));
}

void AvatarSelectorForm::resizeEvent(QResizeEvent *event)
{
    qDebug() << "AvatarSelectorForm::resizeEvent" << event->size();
    const int half = initialSelectionSide / 2;
    selectionRect = QRect(rect().center() - QPoint(half, half),
                          QSize(initialSelectionSide, initialSelectionSide));
    if (pixmap.isNull()) {
        backgroundRect = rect();
    } else {
        fitBackground();
    }
    QWidget::resizeEvent(event);
}

void AvatarSelectorForm::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    if (pixmap.isNull()) {
        return;
    }
    if (activeHandle != NoHandle) {
        resizing = true;
        startResize();
    } else if (selectionRect.contains(event->pos())) {
        moving = true;
        dragOffset = event->pos() - selectionRect.topLeft();
    }
}

// Bounds the extent of the coming resize so that the square stays inside the
// picture, whether it grows or folds over its anchor.
void AvatarSelectorForm::startResize()
{
    const int largest = std::max(backgroundRect.width(), backgroundRect.height());
    maxExtent = largest;
    minExtent = -largest;
    for (const int limit : extentLimits(activeHandle, selectionRect, backgroundRect)) {
        if (limit > 0) {
            maxExtent = std::min(maxExtent, limit);
        } else {
            minExtent = std::max(minExtent, limit);
        }
    }
}

void AvatarSelectorForm::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    if (pixmap.isNull()) {
        return;
    }
    if (moving) {
        moveSelection(event->pos());
    } else if (resizing) {
        resizeSelection(event->pos());
    } else {
        hover(event->pos());
    }
}

void AvatarSelectorForm::moveSelection(const QPoint &pos)
{
    QPoint topLeft = pos - dragOffset;
    // Left and top first: a selection larger than the picture sticks out there.
    if (topLeft.x() < backgroundRect.left()) {
        topLeft.setX(backgroundRect.left());
    }
    if (topLeft.x() > backgroundRect.right() - selectionRect.width() + 1) {
        topLeft.setX(backgroundRect.right() - selectionRect.width() + 1);
    }
    if (topLeft.y() < backgroundRect.top()) {
        topLeft.setY(backgroundRect.top());
    }
    if (topLeft.y() > backgroundRect.bottom() - selectionRect.height() + 1) {
        topLeft.setY(backgroundRect.bottom() - selectionRect.height() + 1);
    }
    selectionRect.moveTopLeft(topLeft);
    update();
}

// Moves the sides of the active handle so that the selection stays a square
// held at the opposite side or corner (the anchor). A negative extent folds the
// square over the anchor; the release normalises it.
void AvatarSelectorForm::resizeSelection(const QPoint &pos)
{
    QRect &s = selectionRect;
    const QPoint centre = s.center();
    QPoint anchor;
    int extent = 0;
    switch (activeHandle) {
    case TopEdge:
        anchor = QPoint(centre.x(), s.bottom());
        extent = anchor.y() - pos.y();
        break;
    case BottomEdge:
        anchor = QPoint(centre.x(), s.top());
        extent = pos.y() - anchor.y();
        break;
    case LeftEdge:
        anchor = QPoint(s.right(), centre.y());
        extent = anchor.x() - pos.x();
        break;
    case RightEdge:
        anchor = QPoint(s.left(), centre.y());
        extent = pos.x() - anchor.x();
        break;
    // Corners follow only the pointer's horizontal position.
    case TopLeft:
        anchor = s.bottomRight();
        extent = anchor.x() - pos.x();
        break;
    case TopRight:
        anchor = s.bottomLeft();
        extent = pos.x() - anchor.x();
        break;
    case BottomLeft:
        anchor = s.topRight();
        extent = anchor.x() - pos.x();
        break;
    case BottomRight:
        anchor = s.topLeft();
        extent = pos.x() - anchor.x();
        break;
    default:
        return;
    }
    extent = std::clamp(extent, minExtent, maxExtent);
    // An edge handle also moves the two sides next to it, half the extent each.
    if (activeHandle == TopEdge || activeHandle == BottomEdge) {
        s.setLeft(anchor.x() - extent / 2);
        s.setRight(anchor.x() + extent / 2);
    } else if (activeHandle == LeftEdge || activeHandle == RightEdge) {
        s.setTop(anchor.y() - extent / 2);
        s.setBottom(anchor.y() + extent / 2);
    }
    if (activeHandle & TopEdge) {
        s.setTop(anchor.y() - extent);
    } else if (activeHandle & BottomEdge) {
        s.setBottom(anchor.y() + extent);
    }
    if (activeHandle & LeftEdge) {
        s.setLeft(anchor.x() - extent);
    } else if (activeHandle & RightEdge) {
        s.setRight(anchor.x() + extent);
    }
    update();
}

void AvatarSelectorForm::hover(const QPoint &pos)
{
    activeHandle = NoHandle;
    for (const int kind : qAsConst(handleKinds)) {
        if (handleRect(kind).contains(pos)) {
            activeHandle = kind;
            break;
        }
    }
    if (activeHandle == NoHandle && selectionRect.contains(pos)) {
        setCursor(Qt::SizeAllCursor);
        return;
    }
    setCursor(cursorFor(activeHandle));
}

void AvatarSelectorForm::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (pixmap.isNull() || !(moving || resizing)) {
        return;
    }
    if (resizing) {
        selectionRect = selectionRect.normalized();
    }
    moving = false;
    resizing = false;
    emitCrop();
}

const QPixmap &AvatarSelectorForm::scaledBackground()
{
    // Rebuilt for a new picture, a new backgroundRect or a screen of another
    // pixel density.
    const qreal ratio = devicePixelRatioF();
    if ((scaledPixmap.isNull() || scaledPixmap.devicePixelRatioF() != ratio) &&
        !backgroundRect.isEmpty()) {
        // Scaled by the same painter operation that would draw the picture
        // directly, so the copy looks exactly like it.
        scaledPixmap = QPixmap(backgroundRect.size() * ratio);
        scaledPixmap.setDevicePixelRatio(ratio);
        scaledPixmap.fill(Qt::transparent);
        QPainter painter(&scaledPixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawPixmap(QRect(QPoint(0, 0), backgroundRect.size()), pixmap);
    }
    return scaledPixmap;
}

void AvatarSelectorForm::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    if (pixmap.isNull()) {
        const QPixmap noCamera(QStringLiteral(":/Avatar/images/no-camera.png"));
        painter.drawPixmap(rect().center() - noCamera.rect().center(), noCamera);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap(backgroundRect.topLeft(), scaledBackground());

    const QRect selection = selectionRect.normalized();
    painter.save();
    // Whole-pixel regions, so that the dimming has hard edges: the picture
    // outside the selection, then the selection's corners outside its circle.
    fillRegion(painter, QRegion(backgroundRect).xored(QRegion(selection)), outsideDim);
    fillRegion(painter, QRegion(selection).xored(QRegion(selection, QRegion::Ellipse)), cornerDim);
    painter.restore();

    painter.save();
    painter.setPen(Qt::yellow);
    painter.drawRect(selection.adjusted(0, 0, -1, -1));
    for (const int kind : qAsConst(handleKinds)) {
        painter.fillRect(handleRect(kind), Qt::yellow);
    }
    painter.restore();
}
