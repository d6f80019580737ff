#include "control/updatecontrol.h"
#include "logcapture.h"
#include "recordingtool.h"
#include "window/updatewidget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

class TestUpdateWidget : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tools;
    // A stand-in browser opener that only records what it was asked to open.
    RecordingTool opener{tools.path(), QStringLiteral("xdg-open")};

    template <typename T> static T *child(UpdateWidget &window, const char *name)
    {
        return window.findChild<T *>(QLatin1String(name));
    }

    static void sendMouse(QWidget &window, QEvent::Type type, const QPoint &global,
                          Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, window.mapFromGlobal(global), global, button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    }

    // Closes the next modal message box once it is up and remembers its content.
    static void closeNextMessageBox(QString *title, QString *text)
    {
        QTimer::singleShot(50, [=] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) {
                closeNextMessageBox(title, text);
                return;
            }
            *title = box->windowTitle();
            *text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
    }

private slots:
    void initTestCase()
    {
        qputenv("PATH", tools.path().toUtf8() + ':' + qgetenv("PATH"));
        // The controller creates its work folder below the application data.
        qputenv("XDG_DATA_HOME", tools.path().toUtf8() + "/data");
    }

    void initialState()
    {
        UpdateWidget window;
        QCOMPARE(window.objectName(), QStringLiteral("UpdateWidget"));
        QCOMPARE(window.styleSheet(), QString());
        QCOMPARE(window.size(), QSize(550, 200));
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora update"));
        QVERIFY(!window.windowIcon().isNull());
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(window.windowFlags(), Qt::Window | Qt::FramelessWindowHint |
                                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);

        // Stacking order is the order of the children, bottom first.
        QStringList names;
        for (QObject *object : window.children()) {
            if (object->isWidgetType())
                names << object->objectName();
        }
        QCOMPARE(names, (QStringList{"backlabel", "stateProgressBar", "stateLabel", "movieLabel",
                                     "MinpushButton"}));

        auto *back = child<QLabel>(window, "backlabel");
        auto *bar = child<QProgressBar>(window, "stateProgressBar");
        auto *state = child<QLabel>(window, "stateLabel");
        auto *movie = child<QLabel>(window, "movieLabel");
        auto *minimise = child<QPushButton>(window, "MinpushButton");
        QVERIFY(back && bar && state && movie && minimise);

        QCOMPARE(back->geometry(), QRect(0, 0, 550, 200));
        QCOMPARE(bar->geometry(), QRect(50, 120, 451, 23));
        QCOMPARE(state->geometry(), QRect(20, 80, 511, 31));
        QCOMPARE(movie->geometry(), QRect(120, 120, 323, 20));
        QCOMPARE(minimise->geometry(), QRect(510, 20, 13, 13));

        QCOMPARE(back->styleSheet(),
                 QStringLiteral("QLabel#backlabel {\n\tbackground-color: rgb(255, 255, 255);\n   "
                                "border: 1px solid grey;\n   border-radius: 3px;\n   text-align: "
                                "center;\n}"));
        QCOMPARE(
            bar->styleSheet(),
            QStringLiteral("QProgressBar#stateProgressBar \n{\n   border: 1px solid grey;\n   "
                           "border-radius: 5px;\n   text-align: center;\n\tfont: 75 12pt "
                           "\"微软雅黑\";\n   background-color: #FFFFFF;\n}\n\nQProgressBar::chunk "
                           "{\n   background-color:#00DD00;\n   width: 20px;\n}\n\n"));
        QCOMPARE(state->styleSheet(),
                 QStringLiteral("QLabel#stateLabel{\n\tfont: 9pt \"微软雅黑\";\n}\n"));
        QCOMPARE(minimise->styleSheet(),
                 QStringLiteral(
                     "QPushButton#MinpushButton{\n\tborder-image: "
                     "url(:/image/min-1.png);\n\t}\n\nQPushButton#MinpushButton:hover{"
                     "\n\tborder-image: url(:/image/min-2.png);\n\t}\n\nQPushButton#"
                     "MinpushButton:pressed{\n\tborder-image: url(:/image/min-2.png);\n\t}\n"));
        QCOMPARE(movie->styleSheet(), QString());

        QCOMPARE(back->text(), QString());
        QCOMPARE(state->text(), QStringLiteral("Waiting to update"));
        QCOMPARE(state->alignment(), Qt::Alignment(Qt::AlignHCenter));
        QCOMPARE(bar->value(), 0);
        QVERIFY(bar->isHidden());
        QVERIFY(movie->isHidden());
        QCOMPARE(minimise->text(), QString());
        QCOMPARE(minimise->iconSize(), QSize(10, 10));
        QVERIFY(movie->movie() && movie->movie()->isValid());
        QVERIFY(movie->movie()->frameCount() > 1);
    }

    void images_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("icon") << ":/image/update48X48.ico" << QSize(48, 48);
        QTest::newRow("animation") << ":/image/patching.gif" << QSize(323, 20);
        QTest::newRow("minimise") << ":/image/min-1.png" << QSize(13, 13);
        QTest::newRow("minimise hovered") << ":/image/min-2.png" << QSize(13, 13);
    }
    void images()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage image(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), size);
    }

    void progressScaling_data()
    {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<qint64>("ready");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::newRow("small") << 0ll << 1000ll << 250ll << 1000 << 250;
        QTest::newRow("exactly 100000000 keeps divisor 1")
            << 0ll << 100000000ll << 99999999ll << 100000000 << 99999999;
        QTest::newRow("100000001 uses 10") << 0ll << 100000001ll << 55ll << 10000000 << 5;
        QTest::newRow("250000000 uses 10")
            << 0ll << 250000000ll << 125000000ll << 25000000 << 12500000;
        QTest::newRow("1000000001 uses 10")
            << 0ll << 1000000001ll << 1000000001ll << 100000000 << 100000000;
        QTest::newRow("1000000010 uses 100") << 0ll << 1000000010ll << 5000ll << 10000000 << 50;
        QTest::newRow("above the total stays full") << 0ll << 1000ll << 1005ll << 1000 << 1000;
        QTest::newRow("zero total") << 0ll << 0ll << 0ll << 0 << 0;
        QTest::newRow("offset start") << 500ll << 1500ll << 1000ll << 1000 << 1000;
        QTest::newRow("8 GiB") << 0ll << 8589934592ll << 4294967296ll << 85899345 << 42949672;
    }
    void progressScaling()
    {
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(qint64, ready);
        QFETCH(int, maximum);
        QFETCH(int, value);
        UpdateWidget window;
        window.progressChangeSlot(3, start, end, ready);
        auto *bar = child<QProgressBar>(window, "stateProgressBar");
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), maximum);
        QCOMPARE(bar->value(), value);
    }

    void statusTextAndMovie()
    {
        UpdateWidget window;
        window.show();
        auto *bar = child<QProgressBar>(window, "stateProgressBar");
        auto *movieLabel = child<QLabel>(window, "movieLabel");

        window.chanageLabelText(QStringLiteral("Updating program"));
        QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("Updating program"));

        window.showMovie();
        QVERIFY(movieLabel->isVisible());
        QVERIFY(!bar->isVisible());
        QCOMPARE(movieLabel->movie()->state(), QMovie::Running);

        window.hideMovie();
        QVERIFY(!movieLabel->isVisible());
        QVERIFY(bar->isVisible());
        QCOMPARE(movieLabel->movie()->state(), QMovie::NotRunning);
    }

    void dragging()
    {
        UpdateWidget window;
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint origin = window.pos();

        // Moves before any left press do nothing.
        sendMouse(window, QEvent::MouseMove, origin + QPoint(60, 60), Qt::NoButton,
                  Qt::RightButton);
        QCOMPARE(window.pos(), origin);
        sendMouse(window, QEvent::MouseButtonPress, origin + QPoint(10, 10), Qt::RightButton,
                  Qt::RightButton);
        sendMouse(window, QEvent::MouseMove, origin + QPoint(60, 60), Qt::NoButton,
                  Qt::RightButton);
        QCOMPARE(window.pos(), origin);

        sendMouse(window, QEvent::MouseButtonPress, origin + QPoint(10, 10), Qt::LeftButton,
                  Qt::LeftButton);
        sendMouse(window, QEvent::MouseMove, origin + QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(window.pos(), origin + QPoint(30, 20));
        sendMouse(window, QEvent::MouseButtonRelease, origin + QPoint(40, 30), Qt::LeftButton,
                  Qt::NoButton);

        // Once dragging started, any held button moves the window with the last offset.
        sendMouse(window, QEvent::MouseMove, origin + QPoint(15, 12), Qt::NoButton,
                  Qt::RightButton);
        QCOMPARE(window.pos(), origin + QPoint(5, 2));
    }

    void minimiseButton()
    {
        UpdateWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(child<QPushButton>(window, "MinpushButton"), Qt::LeftButton);
        QVERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
    }

    // A close request from the window manager (Alt+F4, "Close" in the task
    // bar) reaches the window through its platform window; the window stays,
    // so the application never sees its last window closed mid-update.
    void closeRequestIsIgnored()
    {
        UpdateWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy lastWindowClosed(qApp, SIGNAL(lastWindowClosed()));
        QCloseEvent request;
        QApplication::sendEvent(window.windowHandle(), &request);
        QVERIFY(!request.isAccepted());
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QVERIFY(lastWindowClosed.isEmpty());
    }

    void messageBoxWithoutUpload()
    {
        UpdateWidget window;
        QList<int> exitCodes;
        window.setProcessExit([&](int code) { exitCodes << code; });
        QString title;
        QString text;
        closeNextMessageBox(&title, &text);
        window.showMessageBox(QStringLiteral("Download url is error"), false);
        QCOMPARE(title, QStringLiteral("update"));
        QCOMPARE(text, QStringLiteral("Download url is error"));
        QCOMPARE(exitCodes, QList<int>{-1});
        QTest::qWait(300);
        QVERIFY(!opener.wasCalled());
    }

    // The controller reaches the window's slots by their names; a slot renamed
    // on one side only must not leave the window deaf without a word.
    void wiredToTheController()
    {
        UpdateWidget window;
        LogCapture log;
        auto *controller = new UpdateControl(nullptr);
        controller->workerThread->quit();
        QVERIFY(controller->workerThread->wait(10000));

        QVERIFY(controller->connectWindow(&window));
        QMetaObject::invokeMethod(controller, "changeLabelTextSignal", Qt::DirectConnection,
                                  Q_ARG(QString, QStringLiteral("Updating program")));
        QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("Updating program"));
#ifdef QT_NO_DEBUG
        // A debug build stops at the failed connection instead.
        QObject notAWindow;
        QVERIFY(!controller->connectWindow(&notAWindow));
        QVERIFY(LogCapture::lines().contains(
            QStringLiteral("cannot connect UpdateControl changeLabelTextSignal(QString) to QObject "
                           "chanageLabelText(QString)")));
#endif
    }
};

QTEST_MAIN(TestUpdateWidget)
#include "tst_updatewidget.moc"
