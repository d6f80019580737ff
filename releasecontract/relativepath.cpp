#include "releasecontract/relativepath.h"

#include <QStringList>

bool staysInsideFolder(const QString &relativePath)
{
    const QString path = QString(relativePath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char(':')))
        return false;
    return !path.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}
