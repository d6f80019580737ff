#pragma once

#include <QString>
#include <QStringList>

// Operating-system services of update-packager. The Windows branch does what
// the tool needs on a Windows release machine; the other branch does it here.
class PackagerPlatform
{
public:
    // True when standard error shows on a terminal, where a progress line
    // may be rewritten in place.
    static bool errorsGoToTerminal();

    // The names in `folder` that the file system holds as bytes that are no
    // text in its encoding (not valid UTF-8 here), escaped for a message.
    // Qt's listings leave such entries out; on Windows names are UTF-16 and
    // there are none.
    static QStringList undecodableNames(const QString &folder);

    // From now on an interrupt (SIGINT or SIGTERM; Ctrl+C or closing the
    // console on Windows) removes the folder last given to
    // removeOnInterrupt() and ends the process with 128 + the signal.
    // Call it first in main(), before any thread starts.
    static void handleInterrupts();
    // The folder an interrupt removes; empty: none.
    static void removeOnInterrupt(const QString &folder);
};
