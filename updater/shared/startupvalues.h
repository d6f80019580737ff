#pragma once

#include <QString>

// The values that start-up derives from the command line and hands to the
// window, which passes them on unchanged to the update controller.
struct StartupValues
{
    QString downloadurl;
    QString osTag;
    QString version;
    QString installPath;
    QString logFileName;
    bool skipFix = false;
    // The public keys one of which must have signed the configuration.
    QString trustedKeys;
};
