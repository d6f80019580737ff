#include "releasecontract/logfolder.h"

#include "releasecontract/applicationdataroot.h"

#include <QSettings>
#include <QStandardPaths>

namespace {
QString dataDirectory()
{
    return applicationDataRoot() + QStringLiteral("/Velmora");
}
} // namespace

QString LogFolder::workDirectory()
{
    return dataDirectory() + QStringLiteral("/update");
}

QString LogFolder::settingsPath()
{
    return dataDirectory() + QStringLiteral("/settings.ini");
}

QString LogFolder::acceptedReleasesPath()
{
    return dataDirectory() + QStringLiteral("/acceptedreleases.json");
}

bool LogFolder::catUpdateLog(const QSettings &settings)
{
    return settings.value(QStringLiteral("CatUpdateLog"), false).toBool();
}

QString LogFolder::choose(bool catUpdateLog)
{
    return catUpdateLog ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                        : workDirectory();
}

QString LogFolder::locate()
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    return choose(catUpdateLog(settings));
}
