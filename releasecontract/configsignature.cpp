#include "releasecontract/configsignature.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <sodium.h>

bool ConfigSignature::parsePublicKeys(const QString &text, QList<QByteArray> *keys, QString *error)
{
    keys->clear();
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    static const QRegularExpression hexKey(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    for (const QString &key : text.split(separators, Qt::SkipEmptyParts)) {
        if (!hexKey.match(key).hasMatch()) {
            *error = QStringLiteral("a public key is not 64 hexadecimal digits: %1").arg(key);
            keys->clear();
            return false;
        }
        keys->append(QByteArray::fromHex(key.toLatin1()));
    }
    return true;
}

QByteArray ConfigSignature::signatureFile(const QByteArray &signature)
{
    return signature.toBase64() + '\n';
}

bool ConfigSignature::verify(const QByteArray &document, const QByteArray &signatureFile,
                             const QString &trustedKeys, QString *reason)
{
    QList<QByteArray> keys;
    if (!parsePublicKeys(trustedKeys, &keys, reason))
        return false;
    if (keys.isEmpty()) {
        *reason = QStringLiteral("no public key to check it against");
        return false;
    }
    const QByteArray signature = QByteArray::fromBase64(
        signatureFile.trimmed(),
        QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (signature.size() != signatureSize) {
        *reason = QStringLiteral("not an Ed25519 signature (%1 bytes)").arg(signature.size());
        return false;
    }
    if (sodium_init() < 0) {
        *reason = QStringLiteral("the signature library cannot start");
        return false;
    }
    for (const QByteArray &key : qAsConst(keys)) {
        if (crypto_sign_verify_detached(
                reinterpret_cast<const unsigned char *>(signature.constData()),
                reinterpret_cast<const unsigned char *>(document.constData()),
                quint64(document.size()),
                reinterpret_cast<const unsigned char *>(key.constData())) == 0)
            return true;
    }
    *reason = QStringLiteral("no trusted key made this signature of this configuration");
    return false;
}

bool ConfigSignature::verifyFiles(const QString &documentPath, const QString &signaturePath,
                                  const QString &trustedKeys, QString *reason)
{
    QFile document(documentPath);
    QFile signature(signaturePath);
    if (!document.open(QIODevice::ReadOnly) || !signature.open(QIODevice::ReadOnly)) {
        *reason =
            QStringLiteral("cannot read %1").arg(document.isOpen() ? signaturePath : documentPath);
        return false;
    }
    return verify(document.readAll(), signature.readAll(), trustedKeys, reason);
}
