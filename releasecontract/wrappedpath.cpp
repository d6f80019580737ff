#include "releasecontract/wrappedpath.h"

#include <QStringList>

QString WrappedPath::wrap(const QString &path)
{
    return QLatin1Char('*') + path + QLatin1Char('*');
}

QString WrappedPath::unwrap(const QString &argument)
{
    const QStringList parts = argument.split(QLatin1Char('*'), Qt::KeepEmptyParts);
    return parts.size() < 2 ? argument : parts.at(1);
}
