#pragma once

class QPoint;
class QWidget;

// The part of a frameless window that acts as its caption: the title bar minus
// the buttons on it, so that a press there drags the window and a press on a
// button still reaches the button.
class CaptionArea
{
public:
    // `windowPoint` is in the coordinates of the title bar's parent window.
    static bool contains(const QWidget *titleBar, const QWidget *minimizeButton,
                         const QWidget *closeButton, const QPoint &windowPoint);
};
