#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The signing time of the newest release statement that the updater has
// accepted for each installation, so that an older statement served again is
// refused. Kept in the user's data folder beside the main application's data
// (LogFolder::acceptedReleasesPath()) as one JSON object keyed by the
// installation's path; it is not in the work folder, whose files come and go.
class AcceptedReleases
{
public:
    explicit AcceptedReleases(const QString &path);

    // Invalid when nothing was accepted for the installation yet.
    QDateTime newestSigned(const QString &installPath) const;
    // Keeps `signedAt` unless a newer time is kept already; false with
    // *error when the file cannot be written.
    bool accept(const QString &installPath, const QDateTime &signedAt, QString *error) const;

private:
    QJsonObject read() const;

    QString path;
};
