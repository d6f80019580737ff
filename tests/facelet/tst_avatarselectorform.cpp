#include "avatarselectorform.h"
#include "codedpicture.h"
#include "mousedrag.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

namespace {
QRect lastCrop(const QSignalSpy &spy)
{
    return codedArea(spy.constLast().at(0).value<QPixmap>());
}

// What the widget paints, on a transparent image without the window
// background, so that the dimming shows as the alpha it is painted with.
QImage rendering(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The picture drawn straight into the rectangle, as the widget would without
// its scaled copy.
QImage directDrawing(const QPixmap &picture, const QSize &size, const QRect &target)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap(target, picture);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QRect opaqueBounds(const QImage &image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 255) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

// The standard scene: a 400 x 300 selector showing an 800 x 300 picture. The
// picture fills (0, 75) to (399, 224) at half its size, and the first selection
// is the square (139, 89) to (258, 208), centre (198, 148).
const QSize sceneSize(400, 300);
const QSize scenePicture(800, 300);
const QRect sceneSelection(139, 89, 120, 120);

// A fully transparent picture for the standard scene, over which only what the
// widget paints shows.
QPixmap transparentPicture()
{
    QPixmap picture(scenePicture);
    picture.fill(Qt::transparent);
    return picture;
}

// Where a selection of the standard scene lies in the picture.
QRect pictureArea(const QRect &selection)
{
    return QRect(selection.x() * 2, (selection.y() - 75) * 2, selection.width() * 2,
                 selection.height() * 2)
        .intersected(QRect(QPoint(0, 0), scenePicture));
}
} // namespace

class TestAvatarSelectorForm : public QObject
{
    Q_OBJECT

private:
    // Shows a selector of the given size and, when given, a picture in it.
    void showScene(AvatarSelectorForm &selector, const QSize &size, const QPixmap &picture)
    {
        selector.resize(size);
        selector.show();
        QVERIFY(QTest::qWaitForWindowExposed(&selector));
        if (!picture.isNull()) {
            selector.setPixmap(picture);
        }
    }

private slots:
    void fitsPictureAndCropsUnderSelection_data();
    void fitsPictureAndCropsUnderSelection();
    void emitsWholePictureBeforeFirstResize();
    void ignoresNullPicture();
    void widgetWithoutAreaEmitsWholePicture_data();
    void widgetWithoutAreaEmitsWholePicture();
    void movesStopFlushAtEdges_data();
    void movesStopFlushAtEdges();
    void handlesResizeWithinPicture_data();
    void handlesResizeWithinPicture();
    void smallestSelection_data();
    void smallestSelection();
    void newPictureCutsCropToItsBounds();
    void hoverCursors_data();
    void hoverCursors();
    void releaseWithoutDragDoesNotEmit_data();
    void releaseWithoutDragDoesNotEmit();
    void paintsDimmedRegionsFrameAndHandles_data();
    void paintsDimmedRegionsFrameAndHandles();
    void paintsFrameInYellow();
    void dimsWholePixelRegions_data();
    void dimsWholePixelRegions();
    void paintsPictureAsDrawnDirectly_data();
    void paintsPictureAsDrawnDirectly();
    void paintsNoCameraPictureCentred_data();
    void paintsNoCameraPictureCentred();
};

void TestAvatarSelectorForm::fitsPictureAndCropsUnderSelection_data()
{
    QTest::addColumn<QSize>("widgetSize");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QRect>("background");
    QTest::addColumn<QRect>("crop");

    // 1000 / 563 and 500 / 282 are not whole: x, y, width and height truncate.
    QTest::newRow("wide picture, letterboxed")
        << QSize(563, 383) << QSize(1000, 500) << QRect(0, 50, 563, 282)
        << QRect(392, 143, 213, 212);
    QTest::newRow("standard scene")
        << sceneSize << scenePicture << QRect(0, 75, 400, 150) << pictureArea(sceneSelection);
    QTest::newRow("tall picture, pillarboxed")
        << sceneSize << QSize(300, 600) << QRect(125, 0, 150, 300) << QRect(28, 178, 240, 240);
    QTest::newRow("same shape as the widget")
        << sceneSize << QSize(400, 300) << QRect(0, 0, 400, 300) << sceneSelection;
}

void TestAvatarSelectorForm::fitsPictureAndCropsUnderSelection()
{
    QFETCH(QSize, widgetSize);
    QFETCH(QSize, pictureSize);
    QFETCH(QRect, background);
    QFETCH(QRect, crop);

    AvatarSelectorForm selector;
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    showScene(selector, widgetSize, codedPicture(pictureSize));

    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), crop);
    QCOMPARE(opaqueBounds(rendering(selector)), background);
}

void TestAvatarSelectorForm::emitsWholePictureBeforeFirstResize()
{
    AvatarSelectorForm selector;
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    selector.setPixmap(codedPicture(QSize(1000, 500)));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), QRect(0, 0, 1000, 500));

    // The first resize centres the 120 x 120 selection without reporting it.
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QCOMPARE(spy.count(), 1);
    drag(selector, QPoint(281, 191), QPoint(281, 191));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(lastCrop(spy), QRect(392, 143, 213, 212));
}

void TestAvatarSelectorForm::ignoresNullPicture()
{
    AvatarSelectorForm selector;
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    showScene(selector, sceneSize, codedPicture(scenePicture));
    selector.setPixmap(QPixmap());
    QCOMPARE(spy.count(), 1);
    drag(selector, QPoint(198, 148), QPoint(198, 148));
    QCOMPARE(lastCrop(spy), pictureArea(sceneSelection));
}

void TestAvatarSelectorForm::widgetWithoutAreaEmitsWholePicture_data()
{
    QTest::addColumn<QSize>("widgetSize");

    QTest::newRow("no width or height") << QSize(0, 0);
    QTest::newRow("no height") << QSize(100, 0);
    QTest::newRow("no width") << QSize(0, 100);
}

// A layout may squeeze the selector to nothing; the picture then has no area
// to scale the selection by, and the crop falls back to the whole picture.
void TestAvatarSelectorForm::widgetWithoutAreaEmitsWholePicture()
{
    QFETCH(QSize, widgetSize);

    QWidget window;
    window.resize(sceneSize);
    auto *selector = new AvatarSelectorForm(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    selector->resize(widgetSize);
    QCOMPARE(selector->size(), widgetSize);
    QSignalSpy spy(selector, &AvatarSelectorForm::avatarSelected);
    selector->setPixmap(codedPicture(scenePicture));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), QRect(QPoint(0, 0), scenePicture));
}

void TestAvatarSelectorForm::movesStopFlushAtEdges_data()
{
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QRect>("selection");

    QTest::newRow("not moved") << QPoint(198, 148) << sceneSelection;
    QTest::newRow("inside") << QPoint(208, 153) << QRect(149, 94, 120, 120);
    QTest::newRow("left edge") << QPoint(-300, 148) << QRect(0, 89, 120, 120);
    QTest::newRow("right edge") << QPoint(700, 148) << QRect(280, 89, 120, 120);
    QTest::newRow("top edge") << QPoint(198, -300) << QRect(139, 75, 120, 120);
    QTest::newRow("bottom edge") << QPoint(198, 700) << QRect(139, 105, 120, 120);
    QTest::newRow("bottom right corner") << QPoint(700, 700) << QRect(280, 105, 120, 120);
}

void TestAvatarSelectorForm::movesStopFlushAtEdges()
{
    QFETCH(QPoint, to);
    QFETCH(QRect, selection);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, codedPicture(scenePicture));
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    drag(selector, QPoint(198, 148), to);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), pictureArea(selection));
}

void TestAvatarSelectorForm::handlesResizeWithinPicture_data()
{
    QTest::addColumn<QPoint>("handle");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QRect>("selection");

    // Outward, each square stops where it touches the picture's top (75) or
    // bottom (224), the nearer outer edge. An edge handle keeps its square
    // centred on the anchor; a corner handle follows the pointer's x only.
    QTest::newRow("top outward") << QPoint(198, 89) << QPoint(198, 0) << QRect(132, 75, 133, 134);
    QTest::newRow("bottom outward")
        << QPoint(198, 208) << QPoint(198, 400) << QRect(131, 89, 135, 136);
    QTest::newRow("left outward") << QPoint(139, 148) << QPoint(-100, 148)
                                  << QRect(112, 75, 147, 147);
    QTest::newRow("right outward")
        << QPoint(258, 148) << QPoint(600, 148) << QRect(139, 75, 147, 147);
    QTest::newRow("top-left outward")
        << QPoint(139, 89) << QPoint(0, 0) << QRect(125, 75, 134, 134);
    QTest::newRow("top-right outward")
        << QPoint(258, 89) << QPoint(500, 0) << QRect(139, 75, 134, 134);
    QTest::newRow("bottom-left outward")
        << QPoint(139, 208) << QPoint(0, 400) << QRect(123, 89, 136, 136);
    QTest::newRow("bottom-right outward")
        << QPoint(258, 208) << QPoint(500, 400) << QRect(139, 89, 136, 136);

    // Inward past the anchor, each square folds to the anchor's other side,
    // again only as far as the picture allows, and the release normalises it.
    QTest::newRow("top folded") << QPoint(198, 89) << QPoint(198, 300) << QRect(190, 208, 17, 17);
    QTest::newRow("bottom folded") << QPoint(198, 208) << QPoint(198, 0) << QRect(191, 75, 15, 15);
    QTest::newRow("left folded") << QPoint(139, 148) << QPoint(500, 148)
                                 << QRect(258, 78, 142, 141);
    QTest::newRow("right folded") << QPoint(258, 148) << QPoint(-100, 148)
                                  << QRect(0, 79, 140, 139);
    QTest::newRow("top-left folded")
        << QPoint(139, 89) << QPoint(300, 300) << QRect(258, 208, 17, 17);
    QTest::newRow("top-right folded")
        << QPoint(258, 89) << QPoint(0, 300) << QRect(123, 208, 17, 17);
    QTest::newRow("bottom-left folded")
        << QPoint(139, 208) << QPoint(300, 0) << QRect(258, 75, 15, 15);
    QTest::newRow("bottom-right folded")
        << QPoint(258, 208) << QPoint(0, 0) << QRect(125, 75, 15, 15);

    // Near the anchor and within the bounds, the pointer sets the extent.
    QTest::newRow("right inward") << QPoint(258, 148) << QPoint(199, 148)
                                  << QRect(139, 118, 61, 61);
    QTest::newRow("bottom-right inward")
        << QPoint(258, 208) << QPoint(189, 100) << QRect(139, 89, 51, 51);
}

void TestAvatarSelectorForm::handlesResizeWithinPicture()
{
    QFETCH(QPoint, handle);
    QFETCH(QPoint, to);
    QFETCH(QRect, selection);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, codedPicture(scenePicture));
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    drag(selector, handle, to);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), pictureArea(selection));

    // The normalised selection is what the next drag moves.
    const QPoint inside = selection.center();
    drag(selector, inside, inside - QPoint(1000, 1000));
    QCOMPARE(lastCrop(spy), pictureArea(QRect(QPoint(0, 75), selection.size())));
}

void TestAvatarSelectorForm::smallestSelection_data()
{
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QRect>("crop");

    // The top edge dragged onto its anchor leaves the one-pixel square (198, 208).
    QTest::newRow("picture at twice the shown size") << QSize(800, 300) << QRect(396, 266, 2, 2);
    QTest::newRow("picture at the shown size") << QSize(400, 150) << QRect(198, 133, 1, 1);
    QTest::newRow("crop truncated to zero size is the whole picture")
        << QSize(200, 75) << QRect(0, 0, 200, 75);
}

void TestAvatarSelectorForm::smallestSelection()
{
    QFETCH(QSize, pictureSize);
    QFETCH(QRect, crop);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, codedPicture(pictureSize));
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    drag(selector, QPoint(198, 89), QPoint(198, 208));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), crop);
}

void TestAvatarSelectorForm::newPictureCutsCropToItsBounds()
{
    AvatarSelectorForm selector;
    showScene(selector, sceneSize, codedPicture(scenePicture));
    drag(selector, QPoint(198, 148), QPoint(198, 0));

    // The 400 x 100 picture is shown from y = 100 at its own size; the selection
    // still starts at y = 75 and is not moved for it.
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    selector.setPixmap(codedPicture(QSize(400, 100)));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastCrop(spy), QRect(139, 0, 120, 95));
}

void TestAvatarSelectorForm::hoverCursors_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("cursor");

    QTest::newRow("top-left corner") << QPoint(139, 89) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-right corner") << QPoint(258, 89) << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-left corner") << QPoint(139, 208) << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-right corner") << QPoint(258, 208) << int(Qt::SizeFDiagCursor);
    QTest::newRow("corner handle's inner edge") << QPoint(141, 91) << int(Qt::SizeFDiagCursor);
    QTest::newRow("corner handle's outer edge") << QPoint(137, 87) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top edge") << QPoint(198, 89) << int(Qt::SizeVerCursor);
    QTest::newRow("bottom edge") << QPoint(200, 210) << int(Qt::SizeVerCursor);
    QTest::newRow("left edge") << QPoint(139, 148) << int(Qt::SizeHorCursor);
    QTest::newRow("right edge") << QPoint(256, 146) << int(Qt::SizeHorCursor);
    QTest::newRow("inside") << QPoint(198, 148) << int(Qt::SizeAllCursor);
    QTest::newRow("inside next to a corner handle") << QPoint(142, 92) << int(Qt::SizeAllCursor);
    QTest::newRow("on the frame between handles") << QPoint(170, 89) << int(Qt::SizeAllCursor);
    QTest::newRow("just outside a corner handle") << QPoint(136, 89) << int(Qt::ArrowCursor);
    QTest::newRow("outside") << QPoint(20, 20) << int(Qt::ArrowCursor);
}

void TestAvatarSelectorForm::hoverCursors()
{
    QFETCH(QPoint, pos);
    QFETCH(int, cursor);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, codedPicture(scenePicture));
    // From a different cursor, so that every row shows a change.
    sendMouse(selector, QEvent::MouseMove,
              cursor == Qt::ArrowCursor ? QPoint(198, 148) : QPoint(0, 0));
    sendMouse(selector, QEvent::MouseMove, pos);
    QCOMPARE(int(selector.cursor().shape()), cursor);
}

void TestAvatarSelectorForm::releaseWithoutDragDoesNotEmit_data()
{
    QTest::addColumn<bool>("withPicture");
    QTest::addColumn<bool>("press");
    QTest::addColumn<QPoint>("pos");

    QTest::newRow("release inside, no press") << true << false << QPoint(198, 148);
    QTest::newRow("release on a handle, no press") << true << false << QPoint(139, 89);
    QTest::newRow("press and release outside") << true << true << QPoint(20, 100);
    QTest::newRow("no picture, press and release inside") << false << true << QPoint(198, 148);
}

void TestAvatarSelectorForm::releaseWithoutDragDoesNotEmit()
{
    QFETCH(bool, withPicture);
    QFETCH(bool, press);
    QFETCH(QPoint, pos);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, withPicture ? codedPicture(scenePicture) : QPixmap());
    QSignalSpy spy(&selector, &AvatarSelectorForm::avatarSelected);
    sendMouse(selector, QEvent::MouseMove, pos);
    if (press) {
        sendMouse(selector, QEvent::MouseButtonPress, pos);
        sendMouse(selector, QEvent::MouseMove, pos + QPoint(5, 5));
    }
    sendMouse(selector, QEvent::MouseButtonRelease, pos);
    QCOMPARE(spy.count(), 0);
}

void TestAvatarSelectorForm::paintsDimmedRegionsFrameAndHandles_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QColor>("colour");

    const QColor clear(0, 0, 0, 0);
    const QColor yellow(Qt::yellow);
    QTest::newRow("letterbox above the picture") << QPoint(20, 20) << clear;
    QTest::newRow("picture left of the selection") << QPoint(20, 100) << QColor(0, 0, 0, 128);
    QTest::newRow("picture below the selection") << QPoint(200, 220) << QColor(0, 0, 0, 128);
    QTest::newRow("selection corner outside the circle") << QPoint(143, 93) << QColor(0, 0, 0, 80);
    QTest::newRow("opposite selection corner") << QPoint(254, 204) << QColor(0, 0, 0, 80);
    QTest::newRow("circle centre") << QPoint(199, 149) << clear;
    QTest::newRow("circle near its top") << QPoint(199, 95) << clear;
    QTest::newRow("top-left handle") << QPoint(139, 89) << yellow;
    QTest::newRow("top-left handle's corner") << QPoint(137, 87) << yellow;
    QTest::newRow("bottom-right handle") << QPoint(260, 210) << yellow;
    QTest::newRow("top handle") << QPoint(198, 89) << yellow;
    QTest::newRow("right handle") << QPoint(258, 148) << yellow;
}

void TestAvatarSelectorForm::paintsDimmedRegionsFrameAndHandles()
{
    QFETCH(QPoint, pos);
    QFETCH(QColor, colour);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, transparentPicture());
    QCOMPARE(QColor::fromRgba(rendering(selector).pixel(pos)), colour);
}

void TestAvatarSelectorForm::paintsFrameInYellow()
{
    AvatarSelectorForm selector;
    showScene(selector, sceneSize, transparentPicture());
    const QImage image = rendering(selector);

    // The antialiased one-pixel pen of the frame runs on the grid lines
    // x = 139, x = 258, y = 89 and y = 208, so it covers the two pixels on
    // either side of each line at half strength, over the dimming.
    const QVector<QPoint> frame = {QPoint(170, 88),  QPoint(170, 89),  QPoint(138, 120),
                                   QPoint(139, 120), QPoint(257, 170), QPoint(258, 170),
                                   QPoint(220, 207), QPoint(220, 208)};
    for (const QPoint &pos : frame) {
        const QColor pixel = QColor::fromRgba(image.pixel(pos));
        QVERIFY2(pixel.red() == pixel.green() && pixel.red() > 150 && pixel.blue() == 0 &&
                     pixel.alpha() > 128,
                 qPrintable(QStringLiteral("%1,%2: %3")
                                .arg(pos.x())
                                .arg(pos.y())
                                .arg(pixel.name(QColor::HexArgb))));
    }
}

void TestAvatarSelectorForm::dimsWholePixelRegions_data()
{
    QTest::addColumn<QPoint>("handle");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QRect>("selection");

    QTest::newRow("first selection") << QPoint() << QPoint() << sceneSelection;
    QTest::newRow("odd side after a resize")
        << QPoint(258, 148) << QPoint(199, 148) << QRect(139, 118, 61, 61);
    QTest::newRow("moved to the picture's corner")
        << QPoint(198, 148) << QPoint(700, 700) << QRect(280, 105, 120, 120);
}

// Every pixel of the picture is dimmed fully or not at all: black at alpha 128
// outside the selection, at alpha 80 in the selection's corners outside the
// pixel region of its inscribed ellipse, and not inside that region.
void TestAvatarSelectorForm::dimsWholePixelRegions()
{
    QFETCH(QPoint, handle);
    QFETCH(QPoint, to);
    QFETCH(QRect, selection);

    AvatarSelectorForm selector;
    showScene(selector, sceneSize, transparentPicture());
    if (!handle.isNull()) {
        drag(selector, handle, to);
    }
    const QImage image = rendering(selector);

    const QRect background(0, 75, 400, 150);
    const QRegion circle(selection, QRegion::Ellipse);
    // The frame and the handles cover up to 2 pixels on either side of the
    // selection's edges.
    const QRect frameOuter = selection.adjusted(-3, -3, 3, 3);
    const QRect frameInner = selection.adjusted(3, 3, -3, -3);
    int corners = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QPoint pos(x, y);
            if (frameOuter.contains(pos) && !frameInner.contains(pos)) {
                continue;
            }
            QColor expected(0, 0, 0, 0);
            if (background.contains(pos) && !selection.contains(pos)) {
                expected.setAlpha(128);
            } else if (selection.contains(pos) && !circle.contains(pos)) {
                expected.setAlpha(80);
                ++corners;
            }
            const QColor actual = QColor::fromRgba(image.pixel(pos));
            QVERIFY2(
                actual == expected,
                qPrintable(
                    QStringLiteral("%1,%2: %3").arg(x).arg(y).arg(actual.name(QColor::HexArgb))));
        }
    }
    QVERIFY(corners > 4 * 10);
}

void TestAvatarSelectorForm::paintsPictureAsDrawnDirectly_data()
{
    QTest::addColumn<QSize>("resizeTo");
    QTest::addColumn<QRect>("background");

    QTest::newRow("standard scene") << QSize() << QRect(0, 75, 400, 150);
    // The scaled copy follows a new size of the widget.
    QTest::newRow("after a resize") << QSize(300, 300) << QRect(0, 93, 300, 113);
}

void TestAvatarSelectorForm::paintsPictureAsDrawnDirectly()
{
    QFETCH(QSize, resizeTo);
    QFETCH(QRect, background);

    const QPixmap picture = codedPicture(scenePicture);
    AvatarSelectorForm selector;
    showScene(selector, sceneSize, picture);
    rendering(selector);
    if (resizeTo.isValid()) {
        selector.resize(resizeTo);
    }
    const QImage image = rendering(selector);
    const QImage direct = directDrawing(picture, selector.size(), background);

    // Inside the circle the picture shows undimmed; outside the selection it is
    // darkened by black at alpha 128, in its corners by alpha 80.
    const QRect selection(selector.rect().center() - QPoint(60, 60), QSize(120, 120));
    const QPointF centre = QRectF(selection).center();
    int checked = 0;
    for (int y = background.top(); y <= background.bottom(); y += 3) {
        for (int x = background.left(); x <= background.right(); x += 3) {
            const QPoint pos(x, y);
            const double distance = QLineF(centre, pos + QPointF(0.5, 0.5)).length();
            int dim;
            if (!selection.adjusted(-3, -3, 3, 3).contains(pos)) {
                dim = 128;
            } else if (selection.adjusted(4, 4, -4, -4).contains(pos) && distance > 62) {
                dim = 80;
            } else if (selection.adjusted(4, 4, -4, -4).contains(pos) && distance < 58) {
                dim = 0;
            } else {
                continue; // frame, handles and antialiased edges
            }
            const QRgb expected = direct.pixel(pos);
            const QRgb actual = image.pixel(pos);
            const auto darkened = [dim](int channel) { return channel * (255 - dim) / 255.0; };
            QVERIFY2(qAbs(qRed(actual) - darkened(qRed(expected))) <= 1 &&
                         qAbs(qGreen(actual) - darkened(qGreen(expected))) <= 1 &&
                         qAbs(qBlue(actual) - darkened(qBlue(expected))) <= 1 &&
                         qAlpha(actual) == 255,
                     qPrintable(QStringLiteral("at %1,%2 dim %3").arg(x).arg(y).arg(dim)));
            ++checked;
        }
    }
    QVERIFY(checked > 1000);
}

void TestAvatarSelectorForm::paintsNoCameraPictureCentred_data()
{
    QTest::addColumn<QSize>("widgetSize");
    QTest::addColumn<QPoint>("topLeft");

    QTest::newRow("standard size") << QSize(563, 383) << QPoint(242, 152);
    QTest::newRow("even size") << QSize(400, 300) << QPoint(160, 110);
    QTest::newRow("smaller than the picture") << QSize(60, 40) << QPoint(-10, -20);
}

void TestAvatarSelectorForm::paintsNoCameraPictureCentred()
{
    QFETCH(QSize, widgetSize);
    QFETCH(QPoint, topLeft);

    AvatarSelectorForm selector;
    showScene(selector, widgetSize, QPixmap());
    const QImage image = rendering(selector);
    QImage expected(widgetSize, QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::transparent);
    QPainter painter(&expected);
    painter.drawImage(topLeft, QImage(QStringLiteral(":/Avatar/images/no-camera.png")));
    painter.end();
    QCOMPARE(image, expected.convertToFormat(QImage::Format_ARGB32));
    QVERIFY(opaqueBounds(image).isValid());
}

QTEST_MAIN(TestAvatarSelectorForm)
#include "tst_avatarselectorform.moc"
