#include "startup/logsink.h"

#include "releasecontract/logline.h"

#include <QMutex>

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)
    // Serialises the whole handling of a message, file open and close included,
    // so that lines of different threads never interleave.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    if (type == QtWarningMsg)
        return;
    LogLine::append(logDirectory + QLatin1Char('/') + logFileName,
                    LogLine::format(QStringLiteral("##update##"), type, message));
}
