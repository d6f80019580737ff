#include "control/acceptedreleases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace {
QString installationKey(const QString &installPath)
{
    return QDir::cleanPath(QFileInfo(installPath).absoluteFilePath());
}
} // namespace

AcceptedReleases::AcceptedReleases(const QString &path) : path(path) {}

QJsonObject AcceptedReleases::read() const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QDateTime AcceptedReleases::newestSigned(const QString &installPath) const
{
    const QString text = read().value(installationKey(installPath)).toString();
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

bool AcceptedReleases::accept(const QString &installPath, const QDateTime &signedAt,
                              QString *error) const
{
    const QDateTime newest = newestSigned(installPath);
    if (newest.isValid() && newest >= signedAt)
        return true;
    QJsonObject installations = read();
    installations.insert(installationKey(installPath),
                         signedAt.toUTC().toString(Qt::ISODateWithMs));
    // Written beside and renamed, so that a crash leaves the old record or
    // the new one, never none. A link in its place is removed, not written
    // through: the save would follow it.
    QSaveFile file(path);
    const QByteArray json = QJsonDocument(installations).toJson();
    if (QFileInfo(path).isSymLink() && !QFile::remove(path)) {
        *error = QStringLiteral("%1 is a link that cannot be removed").arg(path);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write(json) != json.size() || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
