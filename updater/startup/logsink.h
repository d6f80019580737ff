#pragma once

#include "shared/loglocation.h"

#include <QString>
#include <QtGlobal>

// The process-wide Qt message handler: appends each message as one line
// "##update##<level> (<time>) <text>\r\n" to logDirectory/logFileName,
// opening, flushing and closing the file per message so that no logged line is
// lost on a crash. Warnings are dropped.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
