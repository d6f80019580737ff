#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QVector>
#include <QWidget>
#include <memory>

namespace Ui {
class AvatarSelectorForm;
}

// Crop widget of the avatar editor: shows a picture fitted into the widget, lays
// a square selection over it that the user moves and resizes by eight handles,
// dims everything outside the circle inscribed in the selection, and reports the
// selected part of the full-resolution picture when a drag ends.
class AvatarSelectorForm : public QWidget
{
    Q_OBJECT

public:
    explicit AvatarSelectorForm(QWidget *parent = nullptr);
    ~AvatarSelectorForm() override;

signals:
    void avatarSelected(const QPixmap &avatar);

public slots:
    void setPixmap(const QPixmap &pixmap);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitBackground();
    void emitCrop();
    QRect handleRect(int kind) const;
    void startResize();
    void resizeSelection(const QPoint &pos);
    void moveSelection(const QPoint &pos);
    void hover(const QPoint &pos);
    const QPixmap &scaledBackground();

    std::unique_ptr<Ui::AvatarSelectorForm> ui;
    QRect backgroundRect;
    QPixmap pixmap;
    // The picture scaled to backgroundRect's size, so that a repaint during a
    // drag blits it instead of rescaling a multi-megapixel picture every time.
    QPixmap scaledPixmap;
    QRect selectionRect;
    QPoint dragOffset;
    QVector<int> handleKinds;
    int handleSize = 5;
    bool moving = false;
    bool resizing = false;
    int activeHandle = 0;
    int minExtent = 0;
    int maxExtent = 0;
};
