#pragma once

#include <QString>
#include <QtGlobal>

// Where the log goes. Start-up writes both once, before the sink is installed
// and before any other thread exists; afterwards they are only read.
extern QString logDirectory;
extern QString logFileName;

// The process-wide Qt message handler: appends each message as one line
// "##update##<level> (<time>) <text>\r\n" to logDirectory/logFileName,
// opening, flushing and closing the file per message so that no logged line is
// lost on a crash. Warnings are dropped.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
