#include "window/updatewidget.h"

#include "control/updatecontrol.h"
#include "platform/platform.h"
#include "shared/connectchecked.h"
#include "shared/loglocation.h"
#include "shared/vendorconfig.h"
#include "ui_updatewidget.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QHttpMultiPart>
#include <QIcon>
#include <QMessageBox>
#include <QMouseEvent>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace {
// The home page and the upload server are build-time settings that the
// environment may override for staging and tests.
QString vendorAddress(const char *variable, const QString &builtIn)
{
    const QByteArray overridden = qgetenv(variable);
    return overridden.isEmpty() ? builtIn : QString::fromUtf8(overridden);
}

QUrl homePage()
{
    return QUrl(vendorAddress("VELMORA_HOME_PAGE", QStringLiteral(VELMORA_HOME_PAGE)));
}

QUrl uploadUrl()
{
    return QUrl(vendorAddress("VELMORA_UPLOAD_SERVER", QStringLiteral(VELMORA_UPLOAD_SERVER)) +
                QStringLiteral("/api/file.api.php?action=putFailedData"));
}

QHttpPart formPart(const QString &disposition, const QByteArray &body)
{
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
    part.setBody(body);
    return part;
}

// The message box is the last thing the updater shows: every log line is
// already on disk, so the process ends at once, without unwinding the threads.
void exitImmediately(int exitCode)
{
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
} // namespace

UpdateWidget::UpdateWidget(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::UpdateWidget>()),
      movie(new QMovie(QStringLiteral(":/image/patching.gif"))), processExit(exitImmediately)
{
    ui->setupUi(this);
    ui->stateProgressBar->hide();
    ui->movieLabel->hide();
    ui->movieLabel->setMovie(movie);

    setWindowTitle(tr("Velmora update"));
    setWindowIcon(QIcon(QStringLiteral(":/image/update48X48.ico")));
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);

    connectChecked(ui->MinpushButton, SIGNAL(clicked()), this, SLOT(showMinimized()));
}

// The controller and the movie live until the process ends.
UpdateWidget::~UpdateWidget() = default;

void UpdateWidget::setStartupValues(const StartupValues &values)
{
    startupValues = values;
}

void UpdateWidget::setProcessExit(ProcessExit exit)
{
    processExit = std::move(exit);
}

void UpdateWidget::setUploadTimeout(int milliseconds)
{
    uploadTimeout = milliseconds;
}

void UpdateWidget::startUpdate()
{
    // The controller moves itself to a thread of its own; its first stage
    // runs here, so the signals of that stage arrive directly.
    controller = new UpdateControl(nullptr);
    controller->skipFix = startupValues.skipFix;
    controller->trustedKeys = startupValues.trustedKeys;
    controller->osTag = startupValues.osTag;
    controller->configUrl = startupValues.downloadurl;
    controller->downloadUrl = startupValues.downloadurl;
    controller->version = startupValues.version;
    controller->installPath = startupValues.installPath;
    controller->logFileName = startupValues.logFileName;
    controller->connectWindow(this);
    controller->mainControlSlot();
}

void UpdateWidget::progressChangeSlot(int index, qint64 startPoint, qint64 endPoint,
                                      qint64 readySize)
{
    Q_UNUSED(index)
    // The bar holds an int: scale both counts by a power of ten.
    total = endPoint - startPoint;
    ready = readySize;
    qint64 divisor = 1;
    if (total > 100000000) {
        do {
            divisor *= 10;
        } while (total / divisor > 100000000);
    }
    ui->stateProgressBar->setMaximum(int(total / divisor));
    ui->stateProgressBar->setValue(int(ready / divisor));
    if (ready >= total)
        ui->stateProgressBar->setValue(int(total / divisor));
}

void UpdateWidget::chanageLabelText(QString text)
{
    statusSet = true;
    ui->stateLabel->setText(text);
}

void UpdateWidget::showMessageBox(QString text, bool isUploadLog)
{
    if (isUploadLog)
        uploadLog();
    QMessageBox::critical(this, tr("update"), text, QMessageBox::Ok);
    if (isUploadLog)
        Platform::openWebPage(homePage());
    processExit(-1);
}

void UpdateWidget::showMovie()
{
    ui->movieLabel->show();
    ui->stateProgressBar->hide();
    movie->start();
}

void UpdateWidget::hideMovie()
{
    ui->movieLabel->hide();
    ui->stateProgressBar->show();
    movie->stop();
}

void UpdateWidget::closeAppSlot()
{
    QCoreApplication::quit();
}

void UpdateWidget::uploadLog()
{
    qDebug() << "========upload Log========";
    QNetworkRequest request(uploadUrl());

    const quint32 timestamp = quint32(QDateTime::currentSecsSinceEpoch());
    const QString keyText = QStringLiteral("5d0c3a9e7f21b64c88a9e0f4b7c3d215%1").arg(timestamp);
    const QByteArray key =
        QCryptographicHash::hash(keyText.toUtf8(), QCryptographicHash::Md5).toHex();

    auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    form->append(formPart(QStringLiteral("form-data; name=\"key\""), key));
    form->append(
        formPart(QStringLiteral("form-data; name=\"timestamp\""), QByteArray::number(timestamp)));
    form->append(formPart(QStringLiteral("form-data; name=\"save_name\""),
                          startupValues.logFileName.toLatin1()));

    // The log is streamed from the open file while the request is sent. A log
    // that cannot be read is sent empty, so that the rest still arrives.
    auto *logFile = new QFile(logDirectory + QLatin1Char('/') + startupValues.logFileName);
    QHttpPart logPart;
    logPart.setHeader(QNetworkRequest::ContentDispositionHeader,
                      QStringLiteral("form-data; name=\"save_data\";filename=\"%1\"")
                          .arg(QStringLiteral("text.txt")));
    if (logFile->open(QIODevice::ReadOnly))
        logPart.setBodyDevice(logFile);
    else
        logPart.setBody(QByteArray());
    form->append(logPart);

    auto *manager = new QNetworkAccessManager(this);
    QNetworkReply *reply = manager->post(request, form);
    form->setParent(reply);

    // A server that accepts the connection and then never answers must not keep
    // the error box from appearing: give up after a quiet spell.
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setInterval(uploadTimeout);
    connectChecked(&quiet, SIGNAL(timeout()), reply, SLOT(abort()));
    connectChecked(reply, SIGNAL(uploadProgress(qint64, qint64)), &quiet, SLOT(start()));
    connectChecked(reply, SIGNAL(downloadProgress(qint64, qint64)), &quiet, SLOT(start()));
    connectChecked(reply, SIGNAL(finished()), &loop, SLOT(quit()));
    quiet.start();
    if (!reply->isFinished())
        loop.exec();

    qDebug() << reply->readAll();
    logFile->close();
    logFile->deleteLater();
    reply->deleteLater();
    manager->deleteLater();
}

void UpdateWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragging = true;
        dragOffset = event->globalPos() - pos();
        event->accept();
    }
}

void UpdateWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging) {
        move(event->globalPos() - dragOffset);
        event->accept();
    }
}

void UpdateWidget::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

void UpdateWidget::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        // A status the controller has set is in the new language already.
        const QString status = ui->stateLabel->text();
        ui->retranslateUi(this);
        if (statusSet)
            ui->stateLabel->setText(status);
    }
    QWidget::changeEvent(event);
}
