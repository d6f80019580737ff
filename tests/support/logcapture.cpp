#include "logcapture.h"

#include <QMutex>

namespace {
QMutex mutex;
QStringList captured;

void capture(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        return;
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
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList LogCapture::lines()
{
    QMutexLocker locker(&mutex);
    return captured;
}
