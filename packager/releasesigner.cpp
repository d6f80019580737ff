#include "packager/releasesigner.h"

#include "releasecontract/configsignature.h"
#include "releasecontract/filemd5.h"
#include "releasecontract/releaseconfiguration.h"
#include "releasecontract/releasestatement.h"
#include "releasecontract/signingkey.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

ReleaseSigner::ReleaseSigner(const ReleaseOptions &options, const SigningKey &key)
    : m_options(options), m_key(key)
{}

bool ReleaseSigner::sign(const QString &configurationName,
                         const ReleaseConfiguration &configuration, const QByteArray &json,
                         const QHash<QString, QString> &releaseFiles, QByteArray *signatureFile)
{
    ReleaseStatement statement;
    statement.product = ReleaseStatement::productName();
    statement.channel = configurationName;
    statement.version = m_options.newVersion;
    statement.signedAt = QDateTime::currentDateTimeUtc();
    if (m_options.expiresInDays > 0)
        statement.expiresAt = statement.signedAt.addDays(m_options.expiresInDays);
    statement.configurationSha256 =
        QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex();
    const QHash<QString, QByteArray> packets = configuration.packetSums();
    for (auto it = packets.constBegin(); it != packets.constEnd(); ++it) {
        QByteArray sha256;
        qint64 size = 0;
        if (releaseFiles.contains(it.key())) {
            sha256 = fileSha256(releaseFiles.value(it.key()));
            size = QFileInfo(releaseFiles.value(it.key())).size();
        } else if (!keptFile(it.key(), it.value(), &sha256, &size)) {
            return false;
        }
        statement.files.insert(it.key(), sha256);
        statement.sizes.insert(it.key(), size);
    }
    *signatureFile = m_key.signatureFile(statement.toJson());
    if (signatureFile->size() <= ConfigSignature::largestFile)
        return true;
    m_errorString = QStringLiteral("the signed statement names %1 files in %2 bytes, more than "
                                   "the %3 bytes updaters read; publish fewer old versions in "
                                   "one configuration")
                        .arg(statement.files.size())
                        .arg(signatureFile->size())
                        .arg(ConfigSignature::largestFile);
    return false;
}

bool ReleaseSigner::keptFile(const QString &url, const QByteArray &md5, QByteArray *sha256,
                             qint64 *size)
{
    if (!m_mergedStatementRead) {
        m_mergedStatementRead = true;
        ReleaseStatement merged;
        QString reason;
        if (ConfigSignature::verifyFiles(m_options.mergeFile,
                                         m_options.mergeFile + QStringLiteral(".sig"),
                                         m_key.publicKeyText(), &reason, &merged)) {
            m_mergedSums = merged.files;
            m_mergedSizes = merged.sizes;
        }
    }
    *sha256 = m_mergedSums.value(url);
    *size = m_mergedSizes.value(url, -1);
    if (!sha256->isEmpty() && *size >= 0)
        return true;
    // A configuration signed for the first time: its files were published
    // beside it. The one taken must be the one the configuration names.
    const QString beside = QFileInfo(m_options.mergeFile).path() + QLatin1Char('/') +
                           QUrl(url).fileName(QUrl::FullyDecoded);
    if (QFileInfo(beside).isFile() && fileMd5(beside) == md5) {
        *sha256 = fileSha256(beside);
        *size = QFileInfo(beside).size();
        return true;
    }
    m_errorString =
        QStringLiteral("--merge %1 keeps %2, whose SHA-256 and size the signed statement must "
                       "name: neither a statement of %1 signed with this key nor a "
                       "file beside it with the MD5 named gives it")
            .arg(m_options.mergeFile, url);
    return false;
}
