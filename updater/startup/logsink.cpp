#include "logsink.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QTextStream>

namespace {
QString levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug:");
    case QtWarningMsg:
        return QStringLiteral("Warning:");
    case QtCriticalMsg:
        return QStringLiteral("Critical:");
    case QtFatalMsg:
        return QStringLiteral("Fatal:");
    default:
        return QString();
    }
}
} // namespace

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)
    // Serialises the whole handling of a message, file open and close included,
    // so that lines of different threads never interleave.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    const QString level = levelWord(type);
    const QString stamp = QStringLiteral("(%1)").arg(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
    if (type == QtWarningMsg)
        return;

    const QString line =
        QStringLiteral("%1 %2 %3").arg(QStringLiteral("##update##") + level, stamp, message);
    QFile file(logDirectory + QLatin1Char('/') + logFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream.setCodec("GB18030");
    stream << line << "\r\n";
    stream.flush();
    file.flush();
    file.close();
}
