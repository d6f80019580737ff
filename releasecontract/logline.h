#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// One line of a Velmora log file: "<tag><level> (<yyyy-MM-dd hh:mm:ss.zzz>) <text>",
// stored in GB18030 and ended by "\r\n". The updater and the setup program write
// the same log file, each with its own tag.
class LogLine
{
public:
    // "Debug:", "Warning:", "Critical:", "Fatal:", or empty for any other type.
    static QString levelWord(QtMsgType type);
    static QString format(const QString &tag, QtMsgType type, const QString &text,
                          const QDateTime &time = QDateTime::currentDateTime());
    // Opens, writes, flushes and closes the file for each line, so that no line
    // that was written is lost on a crash; false when it cannot be opened.
    static bool append(const QString &filePath, const QString &line);
};
