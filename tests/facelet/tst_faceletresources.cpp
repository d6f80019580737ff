// The pictures live in the library itself: this test does not link it, but
// loads and unloads it like a host, and reads the pictures in between.
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <QResource>
#include <QtTest>

namespace {
const QString noCamera = QStringLiteral(":/Avatar/images/no-camera.png");

// The colour type of a PNG file's header: 3 palette, 6 RGBA.
int pngColourType(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray header = file.read(26);
    return header.size() == 26 && header.startsWith("\x89PNG") ? header.at(25) : -1;
}
} // namespace

class TestFaceletResources : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void registeredWhileLoaded();
    void picturesHaveTheirSizesAndFormats_data();
    void picturesHaveTheirSizesAndFormats();
    void buttonsDifferOnlyInOpacity_data();
    void buttonsDifferOnlyInOpacity();
    void signsShowTheirColours_data();
    void signsShowTheirColours();

private:
    QLibrary library{QStringLiteral(FACELET_LIBRARY_FILE)};
};

void TestFaceletResources::init()
{
    QVERIFY2(library.load(), qPrintable(library.errorString()));
}

void TestFaceletResources::cleanup()
{
    library.unload();
}

void TestFaceletResources::registeredWhileLoaded()
{
    QVERIFY(QFile::exists(noCamera));
    QVERIFY(library.unload());
    QVERIFY(!QFile::exists(noCamera));
    QVERIFY(library.load());
    QVERIFY(QFile::exists(noCamera));
}

void TestFaceletResources::picturesHaveTheirSizesAndFormats_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("palette");

    const QString prefix = QStringLiteral(":/Avatar/images/");
    QTest::newRow("avatar-hint") << prefix + "avatar-hint.png" << QSize(72, 72) << true;
    QTest::newRow("no-camera") << prefix + "no-camera.png" << QSize(80, 80) << true;
    QTest::newRow("minimize") << prefix + "minimize.png" << QSize(20, 20) << false;
    QTest::newRow("minimize_selected")
        << prefix + "minimize_selected.png" << QSize(20, 20) << false;
    QTest::newRow("close") << prefix + "close.png" << QSize(20, 20) << false;
    QTest::newRow("close_selected") << prefix + "close_selected.png" << QSize(20, 20) << false;
}

void TestFaceletResources::picturesHaveTheirSizesAndFormats()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, palette);

    QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);
    QCOMPARE(pngColourType(path), palette ? 3 : 6);
    const QImage image(path);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), palette ? QImage::Format_Indexed8 : QImage::Format_ARGB32);
}

void TestFaceletResources::buttonsDifferOnlyInOpacity_data()
{
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("active");

    QTest::newRow("minimize") << QStringLiteral(":/Avatar/images/minimize.png")
                              << QStringLiteral(":/Avatar/images/minimize_selected.png");
    QTest::newRow("close") << QStringLiteral(":/Avatar/images/close.png")
                           << QStringLiteral(":/Avatar/images/close_selected.png");
}

void TestFaceletResources::buttonsDifferOnlyInOpacity()
{
    QFETCH(QString, normal);
    QFETCH(QString, active);

    const QImage normalImage(normal);
    const QImage activeImage(active);
    const bool minimize = normal.contains(QLatin1String("minimize"));
    for (const auto &[image, alpha] :
         {std::make_pair(normalImage, 77), std::make_pair(activeImage, 204)}) {
        int strongest = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) {
                const QRgb pixel = image.pixel(x, y);
                strongest = qMax(strongest, qAlpha(pixel));
                if (qAlpha(pixel) > 0) {
                    QCOMPARE(pixel & RGB_MASK, QRgb(0xffffff) & RGB_MASK);
                }
                if (minimize) {
                    // The bar: columns 5 to 14, rows 12 and 13.
                    const bool bar = x >= 5 && x <= 14 && (y == 12 || y == 13);
                    QCOMPARE(qAlpha(pixel), bar ? alpha : 0);
                } else {
                    // The cross: symmetric about both centre lines, clear
                    // between its arms and along the border.
                    QCOMPARE(qAlpha(pixel), qAlpha(image.pixel(19 - x, y)));
                    QCOMPARE(qAlpha(pixel), qAlpha(image.pixel(x, 19 - y)));
                    if (x < 3 || y < 3 || (x >= 8 && x <= 11 && y < 6)) {
                        QCOMPARE(qAlpha(pixel), 0);
                    }
                }
            }
        }
        QCOMPARE(strongest, alpha);
        if (!minimize) {
            QCOMPARE(qAlpha(image.pixel(9, 9)), alpha);
            QCOMPARE(qAlpha(image.pixel(6, 6)), alpha);
            QCOMPARE(qAlpha(image.pixel(13, 6)), alpha);
        }
    }
}

void TestFaceletResources::signsShowTheirColours_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QColor>("colour");

    const QString hint = QStringLiteral(":/Avatar/images/avatar-hint.png");
    const QColor transparent(0, 0, 0, 0);
    QTest::newRow("hint: outside the disc") << hint << QPoint(2, 2) << transparent;
    QTest::newRow("hint: light grey disc") << hint << QPoint(10, 36) << QColor(0xe4, 0xe6, 0xea);
    QTest::newRow("hint: grey head") << hint << QPoint(36, 27) << QColor(0xa7, 0xac, 0xb4);
    QTest::newRow("hint: grey shoulders") << hint << QPoint(36, 62) << QColor(0xa7, 0xac, 0xb4);
    QTest::newRow("no-camera: outside the disc") << noCamera << QPoint(3, 3) << transparent;
    QTest::newRow("no-camera: orange-yellow disc")
        << noCamera << QPoint(20, 40) << QColor(0xf5, 0xa6, 0x23);
    QTest::newRow("no-camera: stroke of the mark")
        << noCamera << QPoint(40, 30) << QColor(Qt::white);
    QTest::newRow("no-camera: dot of the mark") << noCamera << QPoint(40, 61) << QColor(Qt::white);
    QTest::newRow("no-camera: gap in the mark")
        << noCamera << QPoint(40, 53) << QColor(0xf5, 0xa6, 0x23);
}

void TestFaceletResources::signsShowTheirColours()
{
    QFETCH(QString, path);
    QFETCH(QPoint, pos);
    QFETCH(QColor, colour);

    const QColor pixel = QColor::fromRgba(QImage(path).pixel(pos));
    if (colour.alpha() == 0) {
        QCOMPARE(pixel.alpha(), 0);
        return;
    }
    // The palette may round a colour a little.
    QVERIFY2(qAbs(pixel.red() - colour.red()) <= 6 && qAbs(pixel.green() - colour.green()) <= 6 &&
                 qAbs(pixel.blue() - colour.blue()) <= 6 && pixel.alpha() == 255,
             qPrintable(pixel.name(QColor::HexArgb)));
}

QTEST_GUILESS_MAIN(TestFaceletResources)
#include "tst_faceletresources.moc"
