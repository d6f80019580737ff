#include "releasesigner.h"

#include "control/configsignature.h"
#include "control/releasestatement.h"
#include "releaseconfiguration.h"
#include "shared/filemd5.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

ReleaseSigner::ReleaseSigner(const ReleaseOptions &options) : m_options(options) {}

bool ReleaseSigner::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

bool ReleaseSigner::load()
{
    if (!m_key.load(m_options.signingKeyFile))
        return fail(QStringLiteral("--sign-key: ") + m_key.errorString());
    return true;
}

bool ReleaseSigner::isTrustedBy(const QString &path)
{
    QFile program(path);
    if (!program.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1 cannot be read: %2").arg(path, program.errorString()));
    QString keyText;
    QList<QByteArray> keys;
    QString what;
    if (!ConfigSignature::keysOfProgram(program.readAll(), &keyText))
        what = QStringLiteral("carries no record of the keys it trusts (not an update program "
                              "of this kind, or an older one)");
    else if (!ConfigSignature::parsePublicKeys(keyText, &keys, &what))
        what = QStringLiteral("carries a malformed record of its keys: ") + what;
    else if (keys.isEmpty())
        what = QStringLiteral("trusts no key and checks no signature");
    else if (keys.contains(QByteArray::fromHex(publicKeyText().toLatin1())))
        return true;
    else
        what = QStringLiteral("trusts other keys only (%1)").arg(keyText.trimmed());
    const QString trusted = (keyText.trimmed() + QLatin1Char(' ') + publicKeyText()).trimmed();
    return fail(
        QStringLiteral("--sign-key: the self-update packet's update.exe (%1) %2. Installations "
                       "that update themselves would run it next and accept what this key "
                       "does not sign. Build update with -DVELMORA_CONFIG_PUBLIC_KEYS=\"%3\" "
                       "and give its run-time folder with --updater.")
            .arg(path, what, trusted));
}

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
        if (releaseFiles.contains(it.key()))
            sha256 = fileSha256(releaseFiles.value(it.key()));
        else if (!keptFileSha256(it.key(), it.value(), &sha256))
            return false;
        statement.files.insert(it.key(), sha256);
    }
    *signatureFile = m_key.signatureFile(statement.toJson());
    return true;
}

bool ReleaseSigner::keptFileSha256(const QString &url, const QByteArray &md5, QByteArray *sha256)
{
    if (!m_mergedStatementRead) {
        m_mergedStatementRead = true;
        ReleaseStatement merged;
        QString reason;
        if (ConfigSignature::verifyFiles(m_options.mergeFile,
                                         m_options.mergeFile + QStringLiteral(".sig"),
                                         publicKeyText(), &reason, &merged)) {
            for (auto it = merged.files.constBegin(); it != merged.files.constEnd(); ++it)
                m_mergedSums.insert(it.key(), it.value());
        }
    }
    *sha256 = m_mergedSums.value(url);
    if (!sha256->isEmpty())
        return true;
    // A configuration signed for the first time: its files were published
    // beside it. The one taken must be the one the configuration names.
    const QString beside = QFileInfo(m_options.mergeFile).path() + QLatin1Char('/') +
                           QUrl(url).fileName(QUrl::FullyDecoded);
    if (QFileInfo(beside).isFile() && fileMd5(beside) == md5) {
        *sha256 = fileSha256(beside);
        return true;
    }
    return fail(QStringLiteral("--merge %1 keeps %2, whose SHA-256 the signed statement must "
                               "name: neither a statement of %1 signed with this key nor a file "
                               "beside it with the MD5 named gives it")
                    .arg(m_options.mergeFile, url));
}
