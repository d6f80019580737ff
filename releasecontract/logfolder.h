#pragma once

#include <QString>

class QSettings;

// Where the updater and the setup program find their log: the work folder
// (application-data root + "/Velmora/update"), or the user's desktop when the
// main application's settings.ini sets "CatUpdateLog".
class LogFolder
{
public:
    // The work folder: configuration, packets, unpacked packets and, by default, the log.
    static QString workDirectory();
    // The main application's settings.ini (it may not exist).
    static QString settingsPath();
    // Beside it, what the updater keeps of the signed releases it has accepted.
    static QString acceptedReleasesPath();
    // "CatUpdateLog" of the main application's settings, false when absent.
    static bool catUpdateLog(const QSettings &settings);
    // The desktop when `catUpdateLog` is set, else the work folder.
    static QString choose(bool catUpdateLog);
    // Reads settingsPath() and applies choose(): for a program that needs only the folder.
    static QString locate();
};
