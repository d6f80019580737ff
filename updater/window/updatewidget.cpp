#include "updatewidget.h"

#include "ui_updatewidget.h"
#include "vendorconfig.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QMouseEvent>
#include <QMovie>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {
// The home page may be redirected at run time for staging and tests.
QUrl homePage()
{
    const QByteArray overridden = qgetenv("VELMORA_HOME_PAGE");
    return QUrl(overridden.isEmpty() ? QStringLiteral(VELMORA_HOME_PAGE)
                                     : QString::fromUtf8(overridden));
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

    connect(ui->MinpushButton, SIGNAL(clicked()), this, SLOT(showMinimized()));
}

// The controller and the movie live until the process ends.
UpdateWidget::~UpdateWidget() = default;

void UpdateWidget::setStartupValues(const StartupValues &values)
{
    downloadurl = values.downloadurl;
    osTag = values.osTag;
    version = values.version;
    installPath = values.installPath;
    logFileName = values.logFileName;
    skipFix = values.skipFix;
}

void UpdateWidget::setProcessExit(ProcessExit exit)
{
    processExit = std::move(exit);
}

void UpdateWidget::startUpdate()
{
    // The update controller is not part of this build yet: the window stays
    // on "Waiting to update".
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
    ui->stateLabel->setText(text);
}

void UpdateWidget::showMessageBox(QString text, bool isUploadLog)
{
    QMessageBox::critical(this, tr("update"), text, QMessageBox::Ok);
    if (isUploadLog)
        QDesktopServices::openUrl(homePage());
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
