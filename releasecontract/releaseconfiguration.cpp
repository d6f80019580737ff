#include "releasecontract/releaseconfiguration.h"

#include "releasecontract/configkeys.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString urlSuffix = QStringLiteral("Url");
const QString md5Suffix = QStringLiteral("Md5");

// Every "...Url" member with its "...Md5" sibling, anywhere in the object.
void collectPackets(const QJsonObject &object, QHash<QString, QString> *sumsByUrl,
                    QString *conflict)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isObject()) {
            collectPackets(it.value().toObject(), sumsByUrl, conflict);
            continue;
        }
        if (!it.key().endsWith(urlSuffix) || !it.value().isString())
            continue;
        const QString sumKey = it.key().chopped(urlSuffix.size()) + md5Suffix;
        const QString url = it.value().toString();
        const QString sum = object.value(sumKey).toString();
        const auto known = sumsByUrl->constFind(url);
        if (known != sumsByUrl->constEnd() && known.value() != sum && conflict->isEmpty())
            *conflict = url;
        sumsByUrl->insert(url, sum);
    }
}

} // namespace

bool ReleaseConfiguration::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_errorString = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        m_errorString = QStringLiteral("%1: not a JSON object (%2)")
                            .arg(path, error.error != QJsonParseError::NoError
                                           ? error.errorString()
                                           : QStringLiteral("another JSON value"));
        return false;
    }
    m_document = document.object();
    return true;
}

void ReleaseConfiguration::setReleaseClass(const QString &osTag, const ReleaseClass &values)
{
    QJsonObject releaseClass = m_document.value(osTag).toObject();
    releaseClass.insert(ConfigKeys::installerMd5, QString::fromLatin1(values.installer.md5));
    releaseClass.insert(ConfigKeys::installerUrl, values.installer.url);

    QJsonArray selfUpdateFor = releaseClass.value(ConfigKeys::fixUpdatePacket)
                                   .toObject()
                                   .value(ConfigKeys::fixUpdateUesedVersion)
                                   .toArray();
    for (const QString &version : values.selfUpdateFor) {
        if (!selfUpdateFor.contains(version))
            selfUpdateFor.append(version);
    }
    releaseClass.insert(
        ConfigKeys::fixUpdatePacket,
        QJsonObject{
            {ConfigKeys::fixUpdatePacketMd5, QString::fromLatin1(values.selfUpdate.md5)},
            {ConfigKeys::fixUpdatePacketUrl, values.selfUpdate.url},
            {ConfigKeys::fixUpdateUesedVersion, selfUpdateFor},
        });

    QJsonObject partialPackets = releaseClass.value(ConfigKeys::partialPacket).toObject();
    for (const Update &update : values.updates) {
        QJsonObject patches;
        for (auto it = update.patches.constBegin(); it != update.patches.constEnd(); ++it) {
            patches.insert(it.key(),
                           QJsonObject{
                               {ConfigKeys::filePatch, it->filePatch},
                               {ConfigKeys::oldFileMd5, QString::fromLatin1(it->oldFileMd5)},
                               {ConfigKeys::newFileMd5, QString::fromLatin1(it->newFileMd5)},
                           });
        }
        partialPackets.insert(
            update.oldVersion,
            QJsonObject{
                {ConfigKeys::partialPacketMd5, QString::fromLatin1(update.partial.md5)},
                {ConfigKeys::partialPacketUrl, update.partial.url},
                {ConfigKeys::replacePacketMd5, QString::fromLatin1(update.replace.md5)},
                {ConfigKeys::replacePacketUrl, update.replace.url},
                {ConfigKeys::modify, QJsonObject{{ConfigKeys::patch, patches}}},
            });
    }
    releaseClass.insert(ConfigKeys::partialPacket, partialPackets);
    m_document.insert(osTag, releaseClass);
}

QStringList ReleaseConfiguration::keptEntries(const QStringList &writtenOsTags,
                                              const QStringList &writtenVersions) const
{
    QStringList kept;
    for (auto it = m_document.constBegin(); it != m_document.constEnd(); ++it) {
        if (!writtenOsTags.contains(it.key())) {
            kept.append(it.key() + QStringLiteral(": the whole class"));
            continue;
        }
        QStringList versions =
            it.value().toObject().value(ConfigKeys::partialPacket).toObject().keys();
        for (const QString &version : writtenVersions)
            versions.removeAll(version);
        if (!versions.isEmpty())
            kept.append(it.key() + QStringLiteral(": ") + versions.join(QStringLiteral(", ")));
    }
    return kept;
}

QString ReleaseConfiguration::conflictingUrl() const
{
    QHash<QString, QString> sumsByUrl;
    QString conflict;
    collectPackets(m_document, &sumsByUrl, &conflict);
    return conflict;
}

QHash<QString, QByteArray> ReleaseConfiguration::packetSums() const
{
    QHash<QString, QString> sumsByUrl;
    QString conflict;
    collectPackets(m_document, &sumsByUrl, &conflict);
    QHash<QString, QByteArray> sums;
    for (auto it = sumsByUrl.constBegin(); it != sumsByUrl.constEnd(); ++it)
        sums.insert(it.key(), it.value().toLatin1());
    return sums;
}

QByteArray ReleaseConfiguration::toJson() const
{
    return QJsonDocument(m_document).toJson(QJsonDocument::Indented);
}
