#pragma once

#include <QEvent>
#include <QPoint>

class QWidget;

// Sends one mouse event of the left button straight to the widget: a move
// without a button, a press or a release.
void sendMouse(QWidget &widget, QEvent::Type type, const QPoint &pos);

// Hovers over the start (which picks a crop selector's handle), presses there,
// drags to the end and releases.
void drag(QWidget &widget, const QPoint &from, const QPoint &to);
