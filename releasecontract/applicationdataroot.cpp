#include "releasecontract/applicationdataroot.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString applicationDataRoot()
{
    const QString location =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/../");
    return QFileInfo(location).absoluteDir().absolutePath();
}
