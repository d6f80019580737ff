#include "releasecontract/logline.h"

#include <QFile>
#include <QTextStream>

QString LogLine::levelWord(QtMsgType type)
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

QString LogLine::format(const QString &tag, QtMsgType type, const QString &text,
                        const QDateTime &time)
{
    const QString stamp =
        QStringLiteral("(%1)").arg(time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
    // One multi-argument arg() so that placeholders inside the text stay as they are.
    return QStringLiteral("%1 %2 %3").arg(tag + levelWord(type), stamp, text);
}

bool LogLine::append(const QString &filePath, const QString &line)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QTextStream stream(&file);
    stream.setCodec("GB18030");
    stream << line << "\r\n";
    stream.flush();
    file.flush();
    file.close();
    return true;
}
