#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the debug messages the code under test logs, from any thread, for
// as long as it lives, and passes every other message on to the handler it
// found; that handler comes back afterwards. One capture at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    // The debug messages since the capture began, in order.
    static QStringList lines();

private:
    Q_DISABLE_COPY(LogCapture)

    QtMessageHandler previousHandler = nullptr;
};
