#include "packager/selfupdatepacket.h"

#include "releasecontract/filemd5.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

SelfUpdatePacket::SelfUpdatePacket(const QMap<QString, QString> &files, const QStringList &toStrip,
                                   const QString &cacheFolder, const QString &workFolder)
    : m_files(files), m_toStrip(toStrip), m_cacheFolder(cacheFolder), m_workFolder(workFolder)
{}

QString SelfUpdatePacket::stripProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("strip"));
}

bool SelfUpdatePacket::strip(const QString &source, const QString &target)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(stripProgram(),
                  {QStringLiteral("--strip-all"), QStringLiteral("-o"), target, source});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_errorString = QStringLiteral("%1 cannot be stripped: %2")
                            .arg(source, QString::fromLocal8Bit(process.readAll()).trimmed() +
                                             process.errorString());
        return false;
    }
    // The copy stands for the program: its time and its rights.
    const QFileInfo original(source);
    QFile copy(target);
    const bool timed = copy.open(QIODevice::ReadWrite) &&
                       copy.setFileTime(original.lastModified(), QFileDevice::FileModificationTime);
    copy.close();
    if (!timed || !copy.setPermissions(original.permissions())) {
        m_errorString = QStringLiteral("%1: %2").arg(target, copy.errorString());
        return false;
    }
    return true;
}

QString SelfUpdatePacket::cacheKey(const QString &packetPath) const
{
    // The packet's name counts: it names the folder the packet unpacks into.
    QCryptographicHash key(QCryptographicHash::Md5);
    key.addData(QFileInfo(packetPath).fileName().toUtf8());
    for (auto it = m_packedFiles.constBegin(); it != m_packedFiles.constEnd(); ++it) {
        key.addData(QByteArray(1, '\0') + it.key().toUtf8() + '\0' + fileMd5(it.value()) + '\0' +
                    QByteArray::number(int(QFileInfo(it.value()).permissions())));
    }
    return QString::fromLatin1(key.result().toHex());
}

QString SelfUpdatePacket::cachedPacket(const QString &key) const
{
    // Named by its key and its own sum, which tells a damaged copy.
    const QDir cache(m_cacheFolder);
    for (const QString &name : cache.entryList({key + QStringLiteral("-*.pak")}, QDir::Files)) {
        const QString path = cache.filePath(name);
        if (name ==
            key + QLatin1Char('-') + QString::fromLatin1(fileMd5(path)) + QStringLiteral(".pak"))
            return path;
        QFile::remove(path);
    }
    return QString();
}

bool SelfUpdatePacket::write(const QString &path, const Packer &pack)
{
    m_packedFiles.clear();
    m_sourceBytes = 0;
    m_strippedBytes = 0;
    for (auto it = m_files.constBegin(); it != m_files.constEnd(); ++it) {
        QString packed = it.value();
        if (m_toStrip.contains(it.key())) {
            packed = m_workFolder + QLatin1Char('/') + it.key();
            if (!QDir().mkpath(QFileInfo(packed).path()) || !strip(it.value(), packed))
                return false;
        }
        m_packedFiles.insert(it.key(), packed);
        m_sourceBytes += QFileInfo(it.value()).size();
        m_strippedBytes += QFileInfo(packed).size();
    }
    const QString key = cacheKey(path);
    const QString cached = cachedPacket(key);
    m_reused = !cached.isEmpty() && QFile::copy(cached, path);
    if (m_reused)
        return true;
    if (!pack(path, m_packedFiles))
        return false;
    keep(path, key);
    return true;
}

void SelfUpdatePacket::keep(const QString &packetPath, const QString &key)
{
    // Copied under a name of its own and renamed, so that the cache never
    // holds half a packet.
    const QString cached = m_cacheFolder + QLatin1Char('/') + key + QLatin1Char('-') +
                           QString::fromLatin1(fileMd5(packetPath)) + QStringLiteral(".pak");
    const QString partial = cached + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QDir().mkpath(m_cacheFolder) || !QFile::copy(packetPath, partial) ||
        !QFile::rename(partial, cached)) {
        QFile::remove(partial);
        m_cacheWarning = QStringLiteral("the self-update packet cannot be kept in %1 for the "
                                        "next release")
                             .arg(m_cacheFolder);
    }
}
