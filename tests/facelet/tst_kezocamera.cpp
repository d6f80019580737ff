#include "kezoexternalmediamanager.h"
#include "kezofrontcamera.h"
#include "syntheticframesource.h"

#include <QAtomicPointer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>
#include <QtTest>
#include <memory>

// The camera layer's synthetic device: listed only on request, delivering
// frames from its own thread at once, and released with its camera.
class TestKezoCamera : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void syntheticDeviceListedOnlyWhenRequested();
    void patternFramesMoveAndComeFromAnotherThread();
    void framesOfAFile_data();
    void framesOfAFile();
    void destroyingTheCameraStopsIt();

private:
    // Collects frames on the test's thread while remembering the thread that
    // emitted them.
    struct Recorder
    {
        QObject context;
        QVector<QImage> frames;
        QAtomicPointer<QThread> emitter;
    };
    void record(KezoFrontCamera &camera, Recorder &recorder);
};

void TestKezoCamera::cleanup()
{
    qunsetenv("KEZO_CAMERA_TEST");
}

void TestKezoCamera::record(KezoFrontCamera &camera, Recorder &recorder)
{
    connect(
        &camera, &KezoFrontCamera::imageReady, &recorder.context,
        [&recorder](const QImage &) { recorder.emitter.storeRelease(QThread::currentThread()); },
        Qt::DirectConnection);
    connect(&camera, &KezoFrontCamera::imageReady, &recorder.context,
            [&recorder](const QImage &frame) { recorder.frames.append(frame); });
}

void TestKezoCamera::syntheticDeviceListedOnlyWhenRequested()
{
    const QString synthetic = QString::fromLatin1(SyntheticFrameSource::deviceName);
    std::vector<KezoAVDeviceInfo> devices;
    const int realCount = KezoExternalMediaManager::instance()->listVideoDevices(devices);
    QCOMPARE(int(devices.size()), realCount);
    for (const KezoAVDeviceInfo &device : devices)
        QVERIFY(device.deviceName != synthetic);

    qputenv("KEZO_CAMERA_TEST", "1");
    devices.clear();
    QCOMPARE(KezoExternalMediaManager::instance()->listVideoDevices(devices), realCount + 1);
    QCOMPARE(devices.front().deviceName, synthetic);
    QVERIFY(!devices.front().displayName.isEmpty());
}

void TestKezoCamera::patternFramesMoveAndComeFromAnotherThread()
{
    qputenv("KEZO_CAMERA_TEST", "1");
    Recorder recorder;
    KezoFrontCamera camera(SyntheticFrameSource::deviceName, 640, 480);
    record(camera, recorder);
    QTRY_VERIFY(recorder.frames.size() >= 2);
    QCOMPARE(recorder.frames.at(0).size(), QSize(640, 480));
    QVERIFY(recorder.frames.at(0) != recorder.frames.at(1));
    QVERIFY(recorder.emitter.loadAcquire() != nullptr);
    QVERIFY(recorder.emitter.loadAcquire() != QThread::currentThread());
}

void TestKezoCamera::framesOfAFile_data()
{
    QTest::addColumn<bool>("picture");
    QTest::newRow("picture file") << true;
    QTest::newRow("file that is no picture") << false;
}

void TestKezoCamera::framesOfAFile()
{
    QFETCH(bool, picture);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.png"));
    QImage image(50, 30, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(0, 0, 10, 10, Qt::white);
    if (picture) {
        QVERIFY(image.save(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("no picture");
    }
    qputenv("KEZO_CAMERA_TEST", path.toLocal8Bit());

    Recorder recorder;
    KezoFrontCamera camera(SyntheticFrameSource::deviceName, 640, 480);
    record(camera, recorder);
    QTRY_VERIFY(recorder.frames.size() >= 2);
    if (picture) {
        QCOMPARE(recorder.frames.at(0).convertToFormat(QImage::Format_RGB32), image);
        QCOMPARE(recorder.frames.at(1), recorder.frames.at(0));
    } else {
        QCOMPARE(recorder.frames.at(0).size(), QSize(640, 480));
    }
}

void TestKezoCamera::destroyingTheCameraStopsIt()
{
    qputenv("KEZO_CAMERA_TEST", "1");
    const int before = KezoFrontCamera::openCameras();
    Recorder recorder;
    auto camera = std::make_unique<KezoFrontCamera>(SyntheticFrameSource::deviceName, 640, 480);
    QCOMPARE(KezoFrontCamera::openCameras(), before + 1);
    record(*camera, recorder);
    QTRY_VERIFY(!recorder.frames.isEmpty());
    camera.reset();
    QCOMPARE(KezoFrontCamera::openCameras(), before);
    // Frames already queued may still arrive; none follow them.
    QCoreApplication::processEvents();
    const int delivered = recorder.frames.size();
    QTest::qWait(3 * SyntheticFrameSource::frameInterval);
    QCOMPARE(recorder.frames.size(), delivered);
}

QTEST_GUILESS_MAIN(TestKezoCamera)
#include "tst_kezocamera.moc"
