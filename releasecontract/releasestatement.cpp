#include "releasecontract/releasestatement.h"

#include "releasecontract/filemd5.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QVersionNumber>

namespace {

const QString productKey = QStringLiteral("product");
const QString channelKey = QStringLiteral("channel");
const QString versionKey = QStringLiteral("version");
const QString signedKey = QStringLiteral("signed");
const QString expiresKey = QStringLiteral("expires");
const QString configurationKey = QStringLiteral("configuration");
const QString filesKey = QStringLiteral("files");
const QString sizesKey = QStringLiteral("sizes");

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// Only a time that names its offset is taken: a local time would mean
// another moment on every machine.
QDateTime timeOf(const QJsonValue &value)
{
    const QString text = value.toString();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid() || time.timeSpec() == Qt::LocalTime)
        return QDateTime();
    return time.toUTC();
}

bool isSha256(const QJsonValue &value)
{
    static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
    return sha256.match(value.toString()).hasMatch();
}

bool fail(QString *reason, const QString &text)
{
    *reason = text;
    return false;
}

} // namespace

QString ReleaseStatement::productName()
{
    return QStringLiteral("Velmora");
}

QByteArray ReleaseStatement::toJson() const
{
    QJsonObject fileSums;
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        fileSums.insert(it.key(), QString::fromLatin1(it.value()));
    QJsonObject fileSizes;
    for (auto it = sizes.constBegin(); it != sizes.constEnd(); ++it)
        fileSizes.insert(it.key(), double(it.value()));
    QJsonObject object{{productKey, product},
                       {channelKey, channel},
                       {versionKey, version},
                       {signedKey, timeText(signedAt)},
                       {configurationKey, QString::fromLatin1(configurationSha256)},
                       {filesKey, fileSums},
                       {sizesKey, fileSizes}};
    if (expiresAt.isValid())
        object.insert(expiresKey, timeText(expiresAt));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool ReleaseStatement::fromJson(const QByteArray &json, QString *reason)
{
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    if (error.error != QJsonParseError::NoError || object.isEmpty())
        return fail(reason, QStringLiteral("the statement is not a JSON object"));
    for (const QString &key : {productKey, channelKey, versionKey}) {
        if (object.value(key).toString().isEmpty())
            return fail(reason, QStringLiteral("the statement names no %1").arg(key));
    }
    product = object.value(productKey).toString();
    channel = object.value(channelKey).toString();
    version = object.value(versionKey).toString();
    signedAt = timeOf(object.value(signedKey));
    expiresAt = timeOf(object.value(expiresKey));
    if (!signedAt.isValid())
        return fail(reason, QStringLiteral("the statement names no signing time"));
    if (object.contains(expiresKey) && !expiresAt.isValid())
        return fail(reason, QStringLiteral("the statement's expiry is not a time"));
    if (!isSha256(object.value(configurationKey)))
        return fail(reason, QStringLiteral("the statement names no SHA-256 of the configuration"));
    configurationSha256 = object.value(configurationKey).toString().toLatin1();
    files.clear();
    const QJsonObject fileSums = object.value(filesKey).toObject();
    for (auto it = fileSums.constBegin(); it != fileSums.constEnd(); ++it) {
        if (!isSha256(it.value()))
            return fail(reason,
                        QStringLiteral("the statement's SHA-256 of %1 is malformed").arg(it.key()));
        files.insert(it.key(), it.value().toString().toLatin1());
    }
    sizes.clear();
    const QJsonObject fileSizes = object.value(sizesKey).toObject();
    for (auto it = fileSizes.constBegin(); it != fileSizes.constEnd(); ++it) {
        // Whole numbers that a double holds exactly.
        const double size = it.value().toDouble(-1);
        if (size < 0 || size > 9007199254740992.0 || size != qint64(size))
            return fail(reason,
                        QStringLiteral("the statement's size of %1 is malformed").arg(it.key()));
        sizes.insert(it.key(), qint64(size));
    }
    return true;
}

bool ReleaseStatement::coversConfiguration(const QByteArray &configuration, QString *reason) const
{
    const QByteArray sum =
        QCryptographicHash::hash(configuration, QCryptographicHash::Sha256).toHex();
    if (sum == configurationSha256)
        return true;
    return fail(reason,
                QStringLiteral("the configuration's SHA-256 is %1, the statement names %2")
                    .arg(QString::fromLatin1(sum), QString::fromLatin1(configurationSha256)));
}

bool ReleaseStatement::admits(const QString &installedChannel, const QString &installedVersion,
                              const QDateTime &now, const QDateTime &newestAccepted,
                              QString *reason) const
{
    if (product != productName())
        return fail(reason, QStringLiteral("it is for the product \"%1\"").arg(product));
    if (channel != installedChannel)
        return fail(reason, QStringLiteral("it is for the channel \"%1\", not \"%2\"")
                                .arg(channel, installedChannel));
    int order = 0;
    if (!compareVersions(version, installedVersion, &order))
        return fail(reason, QStringLiteral("the versions %1 and %2 are not both dotted numbers")
                                .arg(version, installedVersion));
    if (order < 0)
        return fail(reason, QStringLiteral("it brings %1, older than the installed %2")
                                .arg(version, installedVersion));
    if (expiresAt.isValid() && now > expiresAt)
        return fail(reason, QStringLiteral("it expired at %1").arg(timeText(expiresAt)));
    if (newestAccepted.isValid() && signedAt < newestAccepted)
        return fail(reason, QStringLiteral("it was signed at %1, before the newest release "
                                           "accepted for this installation (signed at %2)")
                                .arg(timeText(signedAt), timeText(newestAccepted)));
    return true;
}

bool ReleaseStatement::coversFile(const QString &url, const QString &path, QString *reason) const
{
    const QByteArray expected = files.value(url);
    if (expected.isEmpty())
        return fail(reason, QStringLiteral("the statement names no SHA-256 of %1").arg(url));
    const QByteArray actual = fileSha256(path);
    if (actual == expected)
        return true;
    return fail(reason, QStringLiteral("the SHA-256 of %1 is %2, the statement names %3")
                            .arg(url, QString::fromLatin1(actual), QString::fromLatin1(expected)));
}

bool ReleaseStatement::compareVersions(const QString &a, const QString &b, int *order)
{
    const auto dotted = [](const QString &text, QVersionNumber *number) {
        int suffix = 0;
        *number = QVersionNumber::fromString(text, &suffix).normalized();
        return !text.isEmpty() && suffix == text.size();
    };
    QVersionNumber first;
    QVersionNumber second;
    if (!dotted(a, &first) || !dotted(b, &second))
        return false;
    *order = QVersionNumber::compare(first, second);
    return true;
}
