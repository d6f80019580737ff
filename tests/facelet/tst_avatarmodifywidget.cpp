#include "avatarmodifywidget.h"
#include "avatarselectorform.h"
#include "cameracaptureform.h"
#include "captionarea.h"
#include "codedpicture.h"
#include "kezoexternalmediamanager.h"
#include "kezofrontcamera.h"
#include "mousedrag.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// The editor window's whole flow on the synthetic camera (the test runs with
// KEZO_CAMERA_TEST set): camera page, flip, capture, file crop, confirm, close.
class TestAvatarModifyWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensOnCameraWithConfirmDisabledAndHint();
    void captureBeforeTheFirstFrameDoesNothing();
    void framesReachTheViewfinder();
    void everyCaptureCropsUnderTheSelectionShown();
    void mirroredFlipsInTwentyStepsDroppingFrames();
    void toggleDuringAFlipTurnsItBack();
    void fileCropAfterCameraCropWins();
    void fileThatChangesNothing_data();
    void fileThatChangesNothing();
    void confirmEmits120x120_data();
    void confirmEmits120x120();
    void closingDestroysWindowAndCamera();
    void captionRule_data();
    void captionRule();
    void pressOnAButtonEdgeReachesTheButton();
    void noDeviceLeavesTheViewfinderEmpty();

private:
    template <typename T> T *child(const char *name) const
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
    QLabel *viewfinder() const;
    QGraphicsProxyWidget *viewfinderProxy() const;
    QImage viewfinderPicture() const { return viewfinder()->pixmap(Qt::ReturnByValue).toImage(); }
    void waitForFrame();
    // Where the viewfinder's left edge is drawn: 0 at rest, the far side when
    // mirrored.
    qreal leftEdgeX() const;
    QImage confirmed();
    QFileDialog *openFileDialog();

    QPointer<ZudED::AvatarModifyWidget> window;
    QTemporaryDir dir;
};

void TestAvatarModifyWidget::init()
{
    window = new ZudED::AvatarModifyWidget(nullptr);
}

void TestAvatarModifyWidget::cleanup()
{
    delete window;
}

QGraphicsProxyWidget *TestAvatarModifyWidget::viewfinderProxy() const
{
    const auto items = child<QGraphicsView>("graphicsView")->scene()->items();
    return items.size() == 1 ? qgraphicsitem_cast<QGraphicsProxyWidget *>(items.first()) : nullptr;
}

QLabel *TestAvatarModifyWidget::viewfinder() const
{
    return qobject_cast<QLabel *>(viewfinderProxy()->widget());
}

void TestAvatarModifyWidget::waitForFrame()
{
    QTRY_VERIFY(!viewfinder()->pixmap(Qt::ReturnByValue).isNull());
}

qreal TestAvatarModifyWidget::leftEdgeX() const
{
    const QRectF bounds = viewfinderProxy()->boundingRect();
    return viewfinderProxy()->transform().map(QPointF(0, bounds.height() / 2)).x();
}

QImage TestAvatarModifyWidget::confirmed()
{
    QSignalSpy spy(window.data(), &ZudED::AvatarModifyWidget::avatarSelected);
    child<QPushButton>("btnConfirm")->click();
    if (spy.size() != 1)
        return QImage();
    return spy.at(0).at(0).value<QPixmap>().toImage();
}

QFileDialog *TestAvatarModifyWidget::openFileDialog()
{
    child<QPushButton>("btnLoadImage")->click();
    return window->findChild<QFileDialog *>();
}

void TestAvatarModifyWidget::opensOnCameraWithConfirmDisabledAndHint()
{
    auto *tabs = child<QTabWidget>("tabWidget");
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("From Camera"));
    QVERIFY(!child<QPushButton>("btnConfirm")->isEnabled());
    QCOMPARE(window->size(), QSize(650, 530));
    QVERIFY(window->isWindow());
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(window->graphicsEffect());
    QVERIFY(shadow);
    QCOMPARE(shadow->color(), QColor(0, 0, 0, 80));
    QCOMPARE(shadow->blurRadius(), 20.0);

    const QImage hint(QStringLiteral(":/Avatar/images/avatar-hint.png"));
    const QImage big = child<QLabel>("labelAvatarBig")->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(big.size(), hint.size());
    QCOMPARE(big.pixelColor(36, 36), hint.pixelColor(36, 36));
}

void TestAvatarModifyWidget::captureBeforeTheFirstFrameDoesNothing()
{
    // No event has been processed, so no frame has been drawn yet.
    QSignalSpy crops(child<CameraCaptureForm>("cameraWidget"), &CameraCaptureForm::avatarSelected);
    child<QPushButton>("btnTakeImage")->click();
    QCOMPARE(crops.size(), 0);
    QCOMPARE(child<CameraCaptureForm>("cameraWidget")->currentIndex(), 0);
    QVERIFY(!child<QPushButton>("btnConfirm")->isEnabled());
}

void TestAvatarModifyWidget::framesReachTheViewfinder()
{
    waitForFrame();
    QCOMPARE(viewfinder()->size(), QSize(416, 311));
    QCOMPARE(viewfinderPicture().size(), QSize(416, 311));
}

void TestAvatarModifyWidget::everyCaptureCropsUnderTheSelectionShown()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    waitForFrame();
    auto *form = child<CameraCaptureForm>("cameraWidget");
    auto *selector = child<AvatarSelectorForm>("avatarSelectorWidget");
    QSignalSpy crops(form, &CameraCaptureForm::avatarSelected);
    const auto lastCrop = [&crops] { return codedArea(crops.constLast().at(0).value<QPixmap>()); };
    // Each capture freezes a coded picture at the viewfinder's size, so that a
    // crop tells where it was cut.
    const auto capture = [this, form] {
        form->drawImage(codedPicture(QSize(416, 311)).toImage());
        child<QPushButton>("btnTakeImage")->click();
        // Whatever the capture left to the event loop (the crop page's layout)
        // happens before the user looks at the selection.
        QTest::qWait(50);
    };
    // A drag that moves nothing reports the crop under the selection as it
    // stands on screen.
    const auto cropUnderSelection = [&] {
        const QPoint centre = selector->rect().center();
        drag(*selector, centre, centre);
        return lastCrop();
    };

    capture();
    QCOMPARE(crops.size(), 1);
    QCOMPARE(form->currentIndex(), 1);
    const QRect firstCapture = lastCrop();
    QVERIFY(!firstCapture.isEmpty());
    QVERIFY(firstCapture.width() < 416);
    QCOMPARE(cropUnderSelection(), firstCapture);
    QVERIFY(child<QPushButton>("btnConfirm")->isEnabled());
    QCOMPARE(confirmed(), crops.constLast()
                              .at(0)
                              .value<QPixmap>()
                              .scaled(120, 120, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                              .toImage());

    // A later capture cuts the new picture where the user left the selection.
    const QPoint centre = selector->rect().center();
    drag(*selector, centre, centre + QPoint(-30, 20));
    const QRect moved = lastCrop();
    QVERIFY(moved != firstCapture);
    child<QPushButton>("btnRecapture")->click();
    QCOMPARE(form->currentIndex(), 0);
    capture();
    QCOMPARE(form->currentIndex(), 1);
    QCOMPARE(lastCrop(), moved);
    QCOMPARE(cropUnderSelection(), moved);
}

void TestAvatarModifyWidget::mirroredFlipsInTwentyStepsDroppingFrames()
{
    waitForFrame();
    auto *form = child<CameraCaptureForm>("cameraWidget");
    auto *flip = child<QPushButton>("btnFlip");
    const qint64 shownKey = viewfinder()->pixmap(Qt::ReturnByValue).cacheKey();
    QImage green(640, 480, QImage::Format_RGB32);
    green.fill(Qt::green);

    flip->click();
    QVector<qreal> edges;
    QElapsedTimer deadline;
    deadline.start();
    while (!flip->isEnabled() && deadline.elapsed() < 10000) {
        if (edges.isEmpty() || !qFuzzyCompare(edges.last(), leftEdgeX()))
            edges.append(leftEdgeX());
        form->drawImage(green);
        QCOMPARE(viewfinder()->pixmap(Qt::ReturnByValue).cacheKey(), shownKey);
        // One pass at a time: each step starts the next one's timer, so no pass
        // can run two steps.
        QCoreApplication::processEvents();
    }
    QVERIFY(flip->isEnabled());
    edges.append(leftEdgeX());
    QCOMPARE(edges.size(), 20);
    for (int i = 1; i < edges.size(); ++i)
        QVERIFY(edges.at(i) > edges.at(i - 1));
    QVERIFY(qAbs(leftEdgeX() - 416) < 0.5);

    // At rest, frames are drawn again and a capture is the mirrored picture.
    QImage marked(640, 480, QImage::Format_RGB32);
    marked.fill(Qt::blue);
    QPainter(&marked).fillRect(0, 0, 100, 100, Qt::white);
    form->drawImage(marked);
    const QImage shown = viewfinderPicture();
    QCOMPARE(shown, QPixmap::fromImage(marked)
                        .scaled(416, 311, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                        .toImage());
    QSignalSpy crops(form, &CameraCaptureForm::avatarSelected);
    child<QPushButton>("btnTakeImage")->click();
    QCOMPARE(crops.size(), 1);
    QCOMPARE(crops.at(0).at(0).value<QPixmap>().toImage(), shown.mirrored(true, false));
}

void TestAvatarModifyWidget::toggleDuringAFlipTurnsItBack()
{
    auto *flip = child<QPushButton>("btnFlip");
    flip->click();
    QVERIFY(!flip->isEnabled());
    QVERIFY(leftEdgeX() > 0);
    // Only reachable from code: the button itself is disabled meanwhile.
    flip->setChecked(false);
    QTRY_VERIFY(flip->isEnabled());
    QVERIFY(qAbs(leftEdgeX()) < 0.5);
    // No second timer chain goes on turning the viewfinder.
    QTest::qWait(100);
    QVERIFY(qAbs(leftEdgeX()) < 0.5);
    QVERIFY(flip->isEnabled());
}

void TestAvatarModifyWidget::fileCropAfterCameraCropWins()
{
    waitForFrame();
    child<QPushButton>("btnTakeImage")->click();
    QVERIFY(child<QPushButton>("btnConfirm")->isEnabled());

    QImage blue(200, 200, QImage::Format_ARGB32_Premultiplied);
    blue.fill(Qt::blue);
    const QString path = dir.filePath(QStringLiteral("blue.png"));
    QVERIFY(blue.save(path));
    QFileDialog *dialog = openFileDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Open Image"));
    QCOMPARE(dialog->nameFilters(),
             QStringList{QStringLiteral("Image files (*.jpg *.png *.xpm *.jpeg *.bmp)")});
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();

    // The camera tab is still the visible one.
    QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 1);
    QImage expected(120, 120, QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::blue);
    QCOMPARE(confirmed().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
}

void TestAvatarModifyWidget::fileThatChangesNothing_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("file that is no picture") << true;
    QTest::newRow("dialog cancelled") << false;
}

void TestAvatarModifyWidget::fileThatChangesNothing()
{
    QFETCH(bool, accept);
    waitForFrame();
    child<QPushButton>("btnTakeImage")->click();
    const QImage before = confirmed();
    QVERIFY(!before.isNull());
    const qint64 previewKey = child<QLabel>("labelAvatarBig")->pixmap(Qt::ReturnByValue).cacheKey();

    const QString path = dir.filePath(QStringLiteral("fake.png"));
    QFile fake(path);
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("this is no picture");
    fake.close();
    QFileDialog *dialog = openFileDialog();
    QVERIFY(dialog);
    dialog->selectFile(path);
    if (accept)
        static_cast<QDialog *>(dialog)->accept();
    else
        dialog->reject();

    QCOMPARE(child<QLabel>("labelAvatarBig")->pixmap(Qt::ReturnByValue).cacheKey(), previewKey);
    QVERIFY(child<QPushButton>("btnConfirm")->isEnabled());
    QCOMPARE(confirmed(), before);
}

void TestAvatarModifyWidget::confirmEmits120x120_data()
{
    QTest::addColumn<QSize>("crop");
    QTest::newRow("square") << QSize(120, 120);
    QTest::newRow("one pixel wider than high") << QSize(121, 120);
    QTest::newRow("one pixel higher than wide") << QSize(120, 121);
    QTest::newRow("whole camera snapshot") << QSize(416, 311);
    QTest::newRow("single pixel") << QSize(1, 1);
}

void TestAvatarModifyWidget::confirmEmits120x120()
{
    QFETCH(QSize, crop);
    // Left half red, right half blue, so that the stretch is visible.
    QImage picture(crop, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 0, (crop.width() + 1) / 2, crop.height(), Qt::red);
    emit child<AvatarSelectorForm>("fileAvatarSelector")
        ->avatarSelected(QPixmap::fromImage(picture));

    const QImage avatar = confirmed();
    QCOMPARE(avatar.size(), QSize(120, 120));
    QCOMPARE(avatar.pixelColor(0, 60), QColor(Qt::red));
    if (crop.width() > 1)
        QCOMPARE(avatar.pixelColor(119, 60), QColor(Qt::blue));
}

void TestAvatarModifyWidget::closingDestroysWindowAndCamera()
{
    QCOMPARE(KezoFrontCamera::openCameras(), 1);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    child<QToolButton>("btnClose")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
    QCOMPARE(KezoFrontCamera::openCameras(), 0);
}

void TestAvatarModifyWidget::captionRule_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("corner");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<bool>("caption");
    const QPoint none(0, 0);
    QTest::newRow("title bar, top-left corner") << "titleWidget"
                                                << "topLeft" << none << true;
    QTest::newRow("title bar, bottom-right corner") << "titleWidget"
                                                    << "bottomRight" << none << true;
    QTest::newRow("title label") << "label_2"
                                 << "center" << none << true;
    QTest::newRow("just left of minimize") << "btnMin"
                                           << "topLeft" << QPoint(-1, 0) << true;
    QTest::newRow("minimize, top-left pixel") << "btnMin"
                                              << "topLeft" << none << false;
    QTest::newRow("minimize, bottom-right pixel") << "btnMin"
                                                  << "bottomRight" << none << false;
    QTest::newRow("between the buttons") << "btnMin"
                                         << "topRight" << QPoint(1, 0) << true;
    QTest::newRow("close, top-left pixel") << "btnClose"
                                           << "topLeft" << none << false;
    QTest::newRow("close, bottom-right pixel") << "btnClose"
                                               << "bottomRight" << none << false;
    QTest::newRow("just right of close") << "btnClose"
                                         << "topRight" << QPoint(1, 0) << true;
    QTest::newRow("first row below the title bar") << "titleWidget"
                                                   << "bottomLeft" << QPoint(0, 1) << false;
    QTest::newRow("tab bar") << "tabWidget"
                             << "topLeft" << QPoint(5, 5) << false;
    QTest::newRow("confirm bar") << "widget_2"
                                 << "center" << none << false;
}

void TestAvatarModifyWidget::captionRule()
{
    QFETCH(QString, widget);
    QFETCH(QString, corner);
    QFETCH(QPoint, offset);
    QFETCH(bool, caption);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    const QWidget *target = child<QWidget>(widget.toLatin1().constData());
    const QRect local = target->rect();
    const QPoint point = corner == QLatin1String("topLeft")       ? local.topLeft()
                         : corner == QLatin1String("topRight")    ? local.topRight()
                         : corner == QLatin1String("bottomLeft")  ? local.bottomLeft()
                         : corner == QLatin1String("bottomRight") ? local.bottomRight()
                                                                  : local.center();
    const QPoint windowPoint = target->mapTo(window.data(), point) + offset;
    QCOMPARE(CaptionArea::contains(child<QWidget>("titleWidget"), child<QWidget>("btnMin"),
                                   child<QWidget>("btnClose"), windowPoint),
             caption);
}

void TestAvatarModifyWidget::pressOnAButtonEdgeReachesTheButton()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *minimize = child<QToolButton>("btnMin");
    QSignalSpy clicks(minimize, &QToolButton::clicked);
    QTest::mouseClick(minimize, Qt::LeftButton, {}, minimize->rect().bottomRight());
    QCOMPARE(clicks.size(), 1);
}

void TestAvatarModifyWidget::noDeviceLeavesTheViewfinderEmpty()
{
    delete window;
    qunsetenv("KEZO_CAMERA_TEST");
    std::vector<KezoAVDeviceInfo> devices;
    KezoExternalMediaManager::instance()->listVideoDevices(devices);
    if (!devices.empty()) {
        qputenv("KEZO_CAMERA_TEST", "1");
        QSKIP("this machine has a camera");
    }
    window = new ZudED::AvatarModifyWidget(nullptr);
    qputenv("KEZO_CAMERA_TEST", "1");
    QCOMPARE(KezoFrontCamera::openCameras(), 0);
    QTest::qWait(3 * 33);
    QVERIFY(viewfinder()->pixmap(Qt::ReturnByValue).isNull());
    auto *form = child<CameraCaptureForm>("cameraWidget");
    QSignalSpy crops(form, &CameraCaptureForm::avatarSelected);
    child<QPushButton>("btnTakeImage")->click();
    QCOMPARE(crops.size(), 0);
    QCOMPARE(form->currentIndex(), 0);
}

QTEST_MAIN(TestAvatarModifyWidget)
#include "tst_avatarmodifywidget.moc"
