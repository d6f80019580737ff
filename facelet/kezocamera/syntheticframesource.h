#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QVector>

class QTimer;

// The synthetic test camera: about 30 frames a second, either a moving test
// pattern or, when KEZO_CAMERA_TEST names an image file, that file's frames in
// a loop. It runs on a thread of its own, like a capture backend.
class SyntheticFrameSource : public QObject
{
    Q_OBJECT

public:
    // The device string under which the manager lists the synthetic camera.
    static constexpr char deviceName[] = "kezo-test-camera";
    static constexpr int frameInterval = 33;

    static bool isEnabled();

    // Reads KEZO_CAMERA_TEST; an image file that cannot be read gives the test
    // pattern instead.
    explicit SyntheticFrameSource(const QSize &patternSize);

signals:
    void frameReady(const QImage &frame);

public slots:
    // Called on the source's thread; the first frame follows at once.
    void start();

private:
    void deliverFrame();
    QImage patternFrame() const;

    QSize patternSize;
    QVector<QImage> fileFrames;
    int frameNumber = 0;
    QTimer *timer = nullptr;
};
