#pragma once

#include <QBitmap>
#include <QFrame>
#include <QPixmap>
#include <memory>

namespace Ui {
class AvatarPreviewFrame;
}

// Preview panel of the avatar editor: the candidate avatar as a circle in three
// sizes, or the hint picture until the first candidate arrives.
class AvatarPreviewFrame : public QFrame
{
    Q_OBJECT

public:
    explicit AvatarPreviewFrame(QWidget *parent = nullptr);
    ~AvatarPreviewFrame() override;

public slots:
    void setPreviewAvatar(const QPixmap &avatar);

private:
    std::unique_ptr<Ui::AvatarPreviewFrame> ui;
    QPixmap shownAvatar;
    QBitmap mask;
};
