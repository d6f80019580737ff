#include "avatarpreviewframe.h"

#include "ui_avatarpreviewframe.h"

#include <QPainter>
#include <algorithm>

AvatarPreviewFrame::AvatarPreviewFrame(QWidget *parent)
    : QFrame(parent), ui(std::make_unique<Ui::AvatarPreviewFrame>())
{
    ui->setupUi(this);
    setPreviewAvatar(QPixmap(QStringLiteral(":/Avatar/images/avatar-hint.png")));
}

AvatarPreviewFrame::~AvatarPreviewFrame() = default;

void AvatarPreviewFrame::setPreviewAvatar(const QPixmap &avatar)
{
    if (avatar.width() == avatar.height()) {
        shownAvatar = avatar;
    } else {
        // The centred square, cut to the picture: with QRect's rounding of the
        // centre it may lose one row or column.
        const int side = std::min(avatar.width(), avatar.height());
        const QRect square(avatar.rect().center() - QPoint(side / 2, side / 2), QSize(side, side));
        shownAvatar = avatar.copy(square);
    }

    mask = QBitmap(shownAvatar.size());
    if (!mask.isNull()) {
        mask.fill(Qt::color0);
        QPainter painter(&mask);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QBrush(Qt::color1, Qt::SolidPattern));
        painter.drawEllipse(QRectF(mask.rect()));
        painter.end();
        shownAvatar.setMask(mask);
    }

    ui->labelAvatarBig->setPixmap(shownAvatar.scaled(
        ui->labelAvatarBig->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
    ui->labelAvatarMid->setPixmap(shownAvatar);
    ui->labelAvatarSmall->setPixmap(shownAvatar);
}
