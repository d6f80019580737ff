#pragma once

#include <QString>
#include <QStringList>

class QProcess;
class QTextCodec;
class QUrl;

// Operating-system services of the updater. The Windows branch does what the
// product does on its home platform; the other branch gives working
// equivalents so that the updater runs and is tested here.
class Platform
{
public:
    // Starts the command that stops the running main application by name. The
    // process is never awaited; the caller keeps `process` alive until it ends.
    static void startStopMainApplication(QProcess &process);

    // Makes `codec` the locale codec for the updater's text. File names on
    // Windows do not pass through it; here they do, so switching it would make
    // every non-ASCII path unreachable, and the log sink sets its codec itself.
    static void setLocaleCodec(QTextCodec *codec);

    // The release class that keys the update configuration: "xp", "win7" or "mac".
    static QString osTag();
    // The release name for the log header.
    static QString systemInfo();
    // The processor's name for the log header, empty when unknown.
    static QString cpuInfo();

    // Gives a downloaded program the right to be started (no-op on Windows).
    static bool makeExecutable(const QString &path);
    // Clears the read-only attribute before a copy is deleted and replaced.
    // Windows knows one attribute, which the single write flag clears; here
    // that flag alone would leave a file nobody may read whenever the removal
    // that follows fails, so the owner's read and write rights are added.
    static bool clearReadOnly(const QString &path);

    // Starts a child that must keep running after the updater has ended: it
    // gets no parent and is never deleted once started, since deleting it
    // would end it. Waits at most 30 s for the start; false with *errorText
    // when it did not start.
    static bool startOutlivingProcess(const QString &program, const QStringList &arguments,
                                      QString *errorText);

    // Opens a web page in the user's default browser.
    static bool openWebPage(const QUrl &url);

    // Sends every HTTP request of the process through the proxy the system is
    // configured with, which Qt uses only when asked: on Windows the
    // Internet settings (a fixed proxy or an auto-configuration script);
    // here http_proxy and no_proxy.
    static void useSystemProxy();
};
