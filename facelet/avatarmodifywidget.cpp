#include "avatarmodifywidget.h"

#include "captionarea.h"
#include "ui_avatarmodifywidget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileDialog>
#include <QGraphicsDropShadowEffect>
#include <QMouseEvent>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#include <windowsx.h>
#endif

namespace ZudED {

namespace {
// The window's texts share the context of its form, without the namespace.
QString translated(const char *text)
{
    return QCoreApplication::translate("AvatarModifyWidget", text);
}
} // namespace

AvatarModifyWidget::AvatarModifyWidget(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::AvatarModifyWidget>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->btnConfirm->setEnabled(false);

    connect(ui->btnClose, &QToolButton::clicked, this, &QWidget::close);
    connect(ui->btnMin, &QToolButton::clicked, this, &QWidget::showMinimized);
    connect(ui->btnLoadImage, &QPushButton::clicked, this, &AvatarModifyWidget::loadImageFile);
    connect(ui->fileAvatarSelector, &AvatarSelectorForm::avatarSelected, this,
            &AvatarModifyWidget::setCandidateAvatar);
    connect(ui->btnConfirm, &QPushButton::clicked, this, &AvatarModifyWidget::confirmSelection);
    connect(ui->cameraWidget, &CameraCaptureForm::avatarSelected, this,
            &AvatarModifyWidget::setCandidateAvatar);

    // The layout's side and bottom margins leave room for the shadow.
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 80));
    shadow->setOffset(1.0, 1.0);
    shadow->setBlurRadius(20.0);
    setGraphicsEffect(shadow);
}

AvatarModifyWidget::~AvatarModifyWidget() = default;

void AvatarModifyWidget::loadImageFile()
{
    auto *dialog = new QFileDialog(this, translated("Open Image"), QString(),
                                   translated("Image files (*.jpg *.png *.xpm *.jpeg *.bmp)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->open(this, SLOT(openImageConfirmed(QString)));
}

void AvatarModifyWidget::openImageConfirmed(const QString &path)
{
    // A file that is no picture gives a null pixmap, which the selector ignores.
    ui->fileAvatarSelector->setPixmap(QPixmap(path));
}

void AvatarModifyWidget::setCandidateAvatar(const QPixmap &avatar)
{
    ui->previewFrame->setPreviewAvatar(avatar);
    ui->btnConfirm->setEnabled(true);
    candidate = avatar;
}

void AvatarModifyWidget::confirmSelection()
{
    if (candidate.isNull()) {
        qDebug() << "cannot confirm because avatar candidate is null";
        return;
    }
    emit avatarSelected(candidate.scaled(120, 120, Qt::IgnoreAspectRatio, Qt::FastTransformation));
}

bool AvatarModifyWidget::isCaption(const QPoint &windowPoint) const
{
    return CaptionArea::contains(ui->titleWidget, ui->btnMin, ui->btnClose, windowPoint);
}

bool AvatarModifyWidget::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
#ifdef Q_OS_WIN
    Q_UNUSED(eventType)
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message != WM_NCHITTEST)
        return false;
    const QPoint screenPoint(GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam));
    if (!isCaption(screenPoint - frameGeometry().topLeft()))
        return false;
    *result = HTCAPTION;
    return true;
#else
    return QWidget::nativeEvent(eventType, message, result);
#endif
}

#ifndef Q_OS_WIN
void AvatarModifyWidget::mousePressEvent(QMouseEvent *event)
{
    // Presses on the title bar and its label reach the window because those
    // widgets leave them unhandled; the buttons keep theirs.
    if (event->button() == Qt::LeftButton && isCaption(event->pos()) && windowHandle() &&
        windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
#endif

} // namespace ZudED
