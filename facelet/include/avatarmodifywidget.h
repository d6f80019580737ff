#pragma once

#include "faceletglobal.h"

#include <QPixmap>
#include <QWidget>
#include <memory>

namespace Ui {
class AvatarModifyWidget;
}

namespace ZudED {

// The avatar editor: a frameless, self-deleting window in which the user crops
// a picture file or a camera snapshot. The last crop of either is the
// candidate; "Confirm" hands it to the host, scaled to 120 x 120, through
// avatarSelected. Closing the window destroys it.
class FACELET_EXPORT AvatarModifyWidget : public QWidget
{
    Q_OBJECT

public:
    explicit AvatarModifyWidget(QWidget *parent = nullptr);
    ~AvatarModifyWidget() override;

signals:
    void avatarSelected(const QPixmap &avatar);

private slots:
    void loadImageFile();
    void openImageConfirmed(const QString &path);
    void setCandidateAvatar(const QPixmap &avatar);
    void confirmSelection();

protected:
    // On Windows, answers the non-client hit test so that the caption area of
    // the title bar drags the window.
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;
#ifndef Q_OS_WIN
    // Without that hit test, a left press on the caption area starts the
    // system move of the window.
    void mousePressEvent(QMouseEvent *event) override;
#endif

private:
    bool isCaption(const QPoint &windowPoint) const;

    std::unique_ptr<Ui::AvatarModifyWidget> ui;
    QPixmap candidate;
};

} // namespace ZudED
