// Times the crop selector's repaints while the user drags over a 12-megapixel
// picture: once as the widget paints (from its scaled copy of the picture), and
// once with that copy dropped before every repaint, so that each repaint has to
// scale the full picture again, as a widget without the copy would.
//
//   bench_facelet [repaints per drag]
#include "avatarselectorform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QTest>
#include <QTextStream>
#include <algorithm>
#include <cmath>

namespace {
const QSize pictureSize(4000, 3000);
const QSize widgetSize(563, 383);

// A photo-like picture: smooth colour gradients with sensor noise, so that
// nothing about it is cheaper to scale than a real photo.
QPixmap photo()
{
    QImage image(pictureSize, QImage::Format_RGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(noise.bounded(24));
            line[x] = qRgb((x * 255 / pictureSize.width() + n) & 0xff,
                           (y * 255 / pictureSize.height() + n) & 0xff, ((x + y) / 30 + n) & 0xff);
        }
    }
    return QPixmap::fromImage(image);
}

void sendMouse(QWidget &widget, QEvent::Type type, const QPoint &pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, widget.mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One drag of the selection around a circle inside the picture, then one drag
// of its bottom-right handle out and back; returns each repaint's time in ms.
QVector<double> dragRepaints(AvatarSelectorForm &selector, const QPixmap &picture, int steps,
                             bool dropScaledCopy)
{
    QVector<double> times;
    QElapsedTimer timer;
    const auto repaint = [&] {
        if (dropScaledCopy) {
            // Showing the same picture again refits it and drops the copy.
            selector.setPixmap(picture);
        }
        timer.start();
        selector.repaint();
        times.append(timer.nsecsElapsed() / 1e6);
    };

    const QPoint centre = selector.rect().center();
    sendMouse(selector, QEvent::MouseMove, centre);
    sendMouse(selector, QEvent::MouseButtonPress, centre);
    for (int i = 0; i < steps; ++i) {
        const double angle = 2 * M_PI * i / steps;
        sendMouse(selector, QEvent::MouseMove,
                  centre + QPoint(int(150 * std::cos(angle)), int(100 * std::sin(angle))));
        repaint();
    }
    sendMouse(selector, QEvent::MouseMove, centre);
    sendMouse(selector, QEvent::MouseButtonRelease, centre);

    const QPoint corner = centre + QPoint(59, 59);
    sendMouse(selector, QEvent::MouseMove, corner);
    sendMouse(selector, QEvent::MouseButtonPress, corner);
    for (int i = 0; i < steps; ++i) {
        const int reach = 80 * (i < steps / 2 ? i : steps - i) / steps;
        sendMouse(selector, QEvent::MouseMove, corner + QPoint(reach, reach));
        repaint();
    }
    sendMouse(selector, QEvent::MouseButtonRelease, corner);
    return times;
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(10, QString::fromLocal8Bit(argv[1]).toInt()) : 200;

    const QPixmap picture = photo();
    AvatarSelectorForm selector;
    selector.resize(widgetSize);
    selector.show();
    if (!QTest::qWaitForWindowExposed(&selector)) {
        return 1;
    }
    selector.setPixmap(picture);
    selector.repaint();

    const double cached = median(dragRepaints(selector, picture, steps, false));
    const double uncached = median(dragRepaints(selector, picture, steps, true));

    QTextStream out(stdout);
    out << "Selector repaints during a drag over a " << pictureSize.width() << " x "
        << pictureSize.height() << " picture, widget " << widgetSize.width() << " x "
        << widgetSize.height() << ", " << 2 * steps << " repaints each\n";
    out << qSetFieldWidth(34) << Qt::left << "" << qSetFieldWidth(0) << "median repaint\n";
    out << qSetFieldWidth(34) << "with the scaled copy" << qSetFieldWidth(0)
        << QString::number(cached, 'f', 3) << " ms\n";
    out << qSetFieldWidth(34) << "rescaling the full picture (ref.)" << qSetFieldWidth(0)
        << QString::number(uncached, 'f', 3) << " ms\n";
    out << qSetFieldWidth(34) << "ratio" << qSetFieldWidth(0)
        << QString::number(uncached / cached, 'f', 1) << " x\n";
    out << qSetFieldWidth(34) << "goal: median under 5 ms" << qSetFieldWidth(0)
        << (cached < 5.0 ? "met" : "missed") << "\n";
    return 0;
}
