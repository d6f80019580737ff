#include "releasecontract/updateconfig.h"

#include "releasecontract/configkeys.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

namespace {
// Sums are read through a variant so that a number or a boolean gives its
// text form; anything that is not a scalar reads as empty.
QByteArray bytesOf(const QJsonValue &value)
{
    return value.toVariant().toByteArray();
}

// Reads the whole configuration; false when it cannot be opened. A content
// that is not a JSON object leaves *isObject false and *root empty.
bool readConfig(const QString &path, QJsonObject *root, bool *isObject)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    file.close();
    *isObject = parseError.error == QJsonParseError::NoError && document.isObject();
    *root = *isObject ? document.object() : QJsonObject();
    return true;
}
} // namespace

bool UpdateConfig::getFixUpdateInfo(const QString &osTag)
{
    QJsonObject root;
    bool isObject = false;
    if (!readConfig(configPath, &root, &isObject)) {
        qDebug() << "Get FixUpdate Info ,Open update config failed";
        return false;
    }
    fixUpdatePacketMd5.clear();
    fixUpdatePacketUrl.clear();
    if (isObject) {
        const QJsonObject packet =
            root.value(osTag).toObject().value(ConfigKeys::fixUpdatePacket).toObject();
        fixUpdatePacketMd5 = bytesOf(packet.value(ConfigKeys::fixUpdatePacketMd5));
        fixUpdatePacketUrl = packet.value(ConfigKeys::fixUpdatePacketUrl).toString();
        fixUpdateUesedVersion = packet.value(ConfigKeys::fixUpdateUesedVersion).toArray();
    }
    qDebug() << "fixUpdatePacketMd5" << fixUpdatePacketMd5;
    qDebug() << "fixUpdatePacketUrl" << fixUpdatePacketUrl;
    return !fixUpdatePacketMd5.isEmpty() && !fixUpdatePacketUrl.isEmpty();
}

bool UpdateConfig::getInstallerInfo(const QString &osTag)
{
    QJsonObject root;
    bool isObject = false;
    if (!readConfig(configPath, &root, &isObject)) {
        qDebug() << "Get Installer Info,Open update config failed";
        return false;
    }
    installerMd5.clear();
    installerUrl.clear();
    if (isObject) {
        const QJsonObject release = root.value(osTag).toObject();
        installerMd5 = bytesOf(release.value(ConfigKeys::installerMd5));
        installerUrl = release.value(ConfigKeys::installerUrl).toString();
        qDebug() << "installerMd5:" << installerMd5;
        qDebug() << "installerUrl:" << installerUrl;
    }
    return !installerMd5.isEmpty() && !installerUrl.isEmpty();
}

bool UpdateConfig::getPartialPacketInfo(const QString &osTag, const QString &version)
{
    QJsonObject root;
    bool isObject = false;
    if (!readConfig(configPath, &root, &isObject)) {
        qDebug() << "Get partialPacket Info,Open update config failed";
        return false;
    }
    partialPacketMd5.clear();
    partialPacketUrl.clear();
    replacePacketMd5.clear();
    replacePacketUrl.clear();
    if (isObject) {
        const QJsonObject packets = root.value(osTag)
                                        .toObject()
                                        .value(ConfigKeys::partialPacket)
                                        .toObject()
                                        .value(version)
                                        .toObject();
        partialPacketMd5 = bytesOf(packets.value(ConfigKeys::partialPacketMd5));
        partialPacketUrl = packets.value(ConfigKeys::partialPacketUrl).toString();
        replacePacketMd5 = bytesOf(packets.value(ConfigKeys::replacePacketMd5));
        replacePacketUrl = packets.value(ConfigKeys::replacePacketUrl).toString();

        const QJsonObject patch =
            packets.value(ConfigKeys::modify).toObject().value(ConfigKeys::patch).toObject();
        // The object's keys come sorted, whatever the order in the document.
        for (auto it = patch.constBegin(); it != patch.constEnd(); ++it) {
            const QJsonObject file = it.value().toObject();
            PatchEntry entry;
            entry.oldFileMd5 = bytesOf(file.value(ConfigKeys::oldFileMd5));
            entry.newFileMd5 = bytesOf(file.value(ConfigKeys::newFileMd5));
            entry.filePatch = file.value(ConfigKeys::filePatch).toString();
            modify.insert(it.key(), entry);
        }
    }
    qDebug() << "partialPacketMd5:" << partialPacketMd5;
    qDebug() << "partialPacketUrl:" << partialPacketUrl;
    qDebug() << "replacePacketMd5:" << replacePacketMd5;
    qDebug() << "replacePacketUrl:" << replacePacketUrl;
    return !partialPacketMd5.isEmpty() && !partialPacketUrl.isEmpty() &&
           !replacePacketMd5.isEmpty() && !replacePacketUrl.isEmpty();
}
