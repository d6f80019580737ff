#include "cameracaptureform.h"

#include "kezoexternalmediamanager.h"
#include "kezofrontcamera.h"
#include "ui_cameracaptureform.h"

#include <QDebug>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QLabel>
#include <QTimer>
#include <QTransform>
#include <vector>

namespace {
constexpr int viewfinderWidth = 416;
constexpr int viewfinderHeight = 311;
constexpr int flipDegreesPerStep = 9;
constexpr int flipStepMilliseconds = 10;

// Turns a picture by `degrees` about the vertical line through `centre`.
QTransform turnAboutVerticalLine(const QPointF &centre, qreal degrees)
{
    QTransform transform;
    transform.translate(centre.x(), centre.y());
    transform.rotate(degrees, Qt::YAxis);
    transform.translate(-centre.x(), -centre.y());
    return transform;
}
} // namespace

CameraCaptureForm::CameraCaptureForm(QWidget *parent)
    : QStackedWidget(parent), ui(std::make_unique<Ui::CameraCaptureForm>())
{
    ui->setupUi(this);
    connect(ui->avatarSelectorWidget, &AvatarSelectorForm::avatarSelected, this,
            &CameraCaptureForm::avatarSelected);

    auto *scene = new QGraphicsScene(this);
    ui->graphicsView->setScene(scene);
    viewfinder = new QLabel;
    viewfinderProxy = scene->addWidget(viewfinder);
    viewfinder->resize(viewfinderWidth, viewfinderHeight);

    connect(ui->btnFlip, &QPushButton::toggled, this, &CameraCaptureForm::setMirrored);
    connect(ui->btnTakeImage, &QPushButton::clicked, this, &CameraCaptureForm::takeImage);
    connect(ui->btnRecapture, &QPushButton::clicked, this, &CameraCaptureForm::displayViewfinder);

    std::vector<KezoAVDeviceInfo> devices;
    KezoExternalMediaManager::instance()->listVideoDevices(devices);
    for (const KezoAVDeviceInfo &device : devices)
        qDebug() << "video device" << device.displayName << device.deviceName;

    // Without a device the viewfinder stays empty and "Capture" does nothing.
    if (!devices.empty()) {
        camera = std::make_unique<KezoFrontCamera>(devices.front().deviceName.toUtf8().constData(),
                                                   640, 480);
        // The camera may emit from its own thread; the automatic connection
        // then queues each frame to the GUI thread.
        connect(camera.get(), &KezoFrontCamera::imageReady, this, &CameraCaptureForm::drawImage);
    }

    displayViewfinder();
}

CameraCaptureForm::~CameraCaptureForm() = default;

void CameraCaptureForm::drawImage(const QImage &image)
{
    if (flipping())
        return;
    viewfinder->setPixmap(QPixmap::fromImage(image).scaled(
        viewfinder->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
    frameShown = true;
}

void CameraCaptureForm::takeImage()
{
    if (!frameShown)
        return;
    const QPixmap shown = viewfinder->pixmap(Qt::ReturnByValue);
    const QPointF centre(shown.width() / 2, shown.height() / 2);
    const QPixmap captured =
        mirrored ? shown.transformed(turnAboutVerticalLine(centre, 180), Qt::FastTransformation)
                 : shown;
    // The crop page keeps a stale size while it is hidden, and the selector
    // re-centres its selection, without reporting it, whenever its size
    // changes. A page shown in a visible form is laid out at once, so showing
    // it before the picture arrives makes the reported crop the one under the
    // selection that the user then sees.
    setCurrentIndex(1);
    ui->avatarSelectorWidget->setPixmap(captured);
}

void CameraCaptureForm::displayViewfinder()
{
    setCurrentIndex(0);
}

void CameraCaptureForm::setMirrored(bool mirrored)
{
    this->mirrored = mirrored;
    flipStep = mirrored ? flipDegreesPerStep : -flipDegreesPerStep;
    // Only a flip towards the other rest angle is started, and only one at a
    // time: a flip from its own rest angle, or a second timer chain, would
    // overshoot the rest angles and never stop. A toggle during a flip turns
    // the running flip round.
    if (flipAngle == (mirrored ? 180 : 0))
        return;
    ui->btnFlip->setEnabled(false);
    if (!flipping())
        flipAnimate();
}

void CameraCaptureForm::flipAnimate()
{
    flipAngle += flipStep;
    const QRectF bounds = viewfinderProxy->boundingRect();
    viewfinderProxy->setTransform(
        turnAboutVerticalLine(QPointF(bounds.width() / 2, bounds.height() / 2), flipAngle));
    if (flipping()) {
        QTimer::singleShot(flipStepMilliseconds, this, &CameraCaptureForm::flipAnimate);
        return;
    }
    ui->btnFlip->setEnabled(true);
    ui->graphicsView->scene()->setSceneRect(QRectF(QPointF(0, 0), viewfinderProxy->size()));
}

bool CameraCaptureForm::flipping() const
{
    return flipAngle != 0 && flipAngle != 180;
}
