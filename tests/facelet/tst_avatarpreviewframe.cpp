#include "avatarpreviewframe.h"
#include "codedpicture.h"

#include <QImage>
#include <QLabel>
#include <QtTest>

namespace {
QImage labelPicture(const AvatarPreviewFrame &frame, const char *name)
{
    const QLabel *label = frame.findChild<QLabel *>(QLatin1String(name));
    return label ? label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32)
                 : QImage();
}

// A circle inscribed in the image: opaque at its centre and just inside its four
// extremes, transparent in the four corners.
void verifyCircular(const QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    const QVector<QPoint> inside = {QPoint(w / 2, h / 2), QPoint(w / 2, 2), QPoint(w / 2, h - 3),
                                    QPoint(2, h / 2), QPoint(w - 3, h / 2)};
    for (const QPoint &pos : inside) {
        QVERIFY2(qAlpha(image.pixel(pos)) == 255,
                 qPrintable(QStringLiteral("inside at %1,%2").arg(pos.x()).arg(pos.y())));
    }
    const QVector<QPoint> corners = {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1),
                                     QPoint(w - 1, h - 1), QPoint(w / 8, h / 8)};
    for (const QPoint &pos : corners) {
        QVERIFY2(qAlpha(image.pixel(pos)) == 0,
                 qPrintable(QStringLiteral("corner at %1,%2").arg(pos.x()).arg(pos.y())));
    }
}
} // namespace

class TestAvatarPreviewFrame : public QObject
{
    Q_OBJECT

private slots:
    void showsHintFirst();
    void cutsCentredSquare_data();
    void cutsCentredSquare();
};

void TestAvatarPreviewFrame::showsHintFirst()
{
    AvatarPreviewFrame frame;
    const QImage hint = QImage(QStringLiteral(":/Avatar/images/avatar-hint.png"))
                            .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(hint.size(), QSize(72, 72));

    const QImage big = labelPicture(frame, "labelAvatarBig");
    QCOMPARE(big.size(), QSize(72, 72));
    verifyCircular(big);
    QCOMPARE(big.pixel(36, 36), hint.pixel(36, 36));
    QCOMPARE(big.pixel(36, 66), hint.pixel(36, 66));
    // The two smaller labels scale the square picture themselves.
    QCOMPARE(labelPicture(frame, "labelAvatarMid"), big);
    QCOMPARE(labelPicture(frame, "labelAvatarSmall"), big);
}

void TestAvatarPreviewFrame::cutsCentredSquare_data()
{
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QRect>("cut");

    // The square is placed around QRect's centre, which rounds down, and is then
    // cut to the picture, so it may lose a row or a column.
    QTest::newRow("100 x 60") << QSize(100, 60) << QRect(19, 0, 60, 59);
    QTest::newRow("640 x 480") << QSize(640, 480) << QRect(79, 0, 480, 479);
    QTest::newRow("121 x 120, a typical crop") << QSize(121, 120) << QRect(0, 0, 120, 119);
    QTest::newRow("60 x 100, tall") << QSize(60, 100) << QRect(0, 19, 59, 60);
    QTest::newRow("square, unchanged") << QSize(90, 90) << QRect(0, 0, 90, 90);
}

void TestAvatarPreviewFrame::cutsCentredSquare()
{
    QFETCH(QSize, pictureSize);
    QFETCH(QRect, cut);

    AvatarPreviewFrame frame;
    frame.setPreviewAvatar(codedPicture(pictureSize));

    const QImage shown = labelPicture(frame, "labelAvatarMid");
    QCOMPARE(shown.size(), cut.size());
    const QPoint centre(cut.width() / 2, cut.height() / 2);
    const QRgb pixel = shown.pixel(centre);
    QCOMPARE(pictureCoordinates(pixel), cut.topLeft() + centre);
    verifyCircular(shown);
    QCOMPARE(labelPicture(frame, "labelAvatarSmall"), shown);

    const QImage big = labelPicture(frame, "labelAvatarBig");
    QCOMPARE(big.size(), QSize(72, 72));
    verifyCircular(big);
}

QTEST_MAIN(TestAvatarPreviewFrame)
#include "tst_avatarpreviewframe.moc"
