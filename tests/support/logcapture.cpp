#include "logcapture.h"

#include <QMutex>

namespace {
QMutex mutex;
QStringList captured;
QtMessageHandler passOn = nullptr;

// Debug lines are what the product logs; anything else goes on to the test
// framework, which shows it and lets a test expect it.
void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        if (passOn)
            passOn(type, context, message);
        return;
    }
    QMutexLocker locker(&mutex);
    captured << message;
}
} // namespace

LogCapture::LogCapture()
{
    {
        QMutexLocker locker(&mutex);
        captured.clear();
    }
    previousHandler = qInstallMessageHandler(capture);
    passOn = previousHandler;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
    passOn = nullptr;
}

QStringList LogCapture::lines()
{
    QMutexLocker locker(&mutex);
    return captured;
}
