#include "captionarea.h"

#include <QWidget>

bool CaptionArea::contains(const QWidget *titleBar, const QWidget *minimizeButton,
                           const QWidget *closeButton, const QPoint &windowPoint)
{
    if (!titleBar->geometry().contains(windowPoint))
        return false;
    const QPoint titlePoint = titleBar->mapFromParent(windowPoint);
    return !closeButton->geometry().contains(titlePoint) &&
           !minimizeButton->geometry().contains(titlePoint);
}
