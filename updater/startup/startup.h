#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// The updater's start-up: one pass on the main thread that stops the main
// application, reads the command line, fixes the log file, installs the
// translation and the log sink, writes the log header, shows the window and
// runs the event loop.
class Startup
{
public:
    // The process entry; returns the exit code. `trustedKeys` are the public
    // keys that must have signed the update configuration (none: no check).
    static int run(int argc, char **argv, const QString &trustedKeys);

    // The main application may pass the full installer's URL: the
    // configuration lies beside it, so ".exe" and ".dmg" URLs get ".json".
    static QString configurationUrl(const QString &downloadurl);
    // "update_[<userName>_]<osTag>_<version>_<stamp>.log": the user name part
    // belongs to the 4-argument form, whose user name may be empty.
    static QString buildLogFileName(const std::optional<QString> &userName, const QString &osTag,
                                    const QString &version, const QDateTime &now);
    // Reads the main application's settings.ini, when it exists: "lang" exactly
    // "zh" selects the Chinese catalogue, "CatUpdateLog" moves the log to the
    // desktop. Missing keys (or a missing file) leave the defaults.
    static void readMainApplicationSettings(const QString &settingsPath, QString *translationFile,
                                            bool *catUpdateLog);
};
