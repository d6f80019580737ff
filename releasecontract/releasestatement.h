#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

// What the vendor signs about one release: the product and the channel (the
// configuration's file name) it is for, the version it brings, when it was
// signed and until when it holds, and the SHA-256 of the configuration and of
// every file the configuration names, with its size. An updater that trusts keys installs a
// release only when its statement admits it, so that a signed configuration
// cannot be served again on a newer installation, under another name, after
// its expiry or after a newer one, nor mixed with other packets.
//
// Its text is one line of compact JSON: the bytes that are signed.
class ReleaseStatement
{
public:
    static QString productName();

    QByteArray toJson() const;
    // False with *reason when `json` is not a complete statement.
    bool fromJson(const QByteArray &json, QString *reason);

    // `configuration` is the document the statement was made for.
    bool coversConfiguration(const QByteArray &configuration, QString *reason) const;
    // The release may go onto an installation of `installedVersion` that read
    // its configuration under the name `channel`; `newestAccepted` is the
    // signing time of the newest statement accepted before for it (invalid:
    // none).
    bool admits(const QString &channel, const QString &installedVersion, const QDateTime &now,
                const QDateTime &newestAccepted, QString *reason) const;
    // The file at `path`, fetched from `url`, is the one the statement names.
    bool coversFile(const QString &url, const QString &path, QString *reason) const;

    // Sets *order negative, 0 or positive as `a` is lower than, equal to or
    // higher than `b`, comparing dotted numbers ("6.10" > "6.9", "6.3" ==
    // "6.3.0"); false when either is not made of dotted numbers.
    static bool compareVersions(const QString &a, const QString &b, int *order);

    QString product;
    QString channel;
    QString version;
    QDateTime signedAt;
    // Invalid: it does not expire.
    QDateTime expiresAt;
    QByteArray configurationSha256;
    // The SHA-256 and the size of every file, by the URL under which the
    // configuration names it. The size bounds a download before it starts.
    QMap<QString, QByteArray> files;
    QMap<QString, qint64> sizes;
};
