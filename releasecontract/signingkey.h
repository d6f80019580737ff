#pragma once

#include <QByteArray>
#include <QString>

// The vendor's Ed25519 key pair that signs update configurations. The secret
// half is kept as its 32-byte seed in hexadecimal in a text file that only
// its owner may read; the public half, in the form the updater's build
// setting VELMORA_CONFIG_PUBLIC_KEYS takes, is what updaters trust.
class SigningKey
{
public:
    static QString secretKeyFileName() { return QStringLiteral("signing.key"); }
    static QString publicKeyFileName() { return QStringLiteral("signing.pub"); }

    // A new key pair, written into `folder` (created if missing) as
    // signing.key (owner only) and signing.pub; an existing key is never
    // overwritten.
    bool generate(const QString &folder);
    bool load(const QString &secretKeyFile);

    QString publicKeyText() const;
    // The signature file of `statement` (see ConfigSignature).
    QByteArray signatureFile(const QByteArray &statement) const;
    QString errorString() const { return m_errorString; }

private:
    bool derive(const QByteArray &seed);
    bool fail(const QString &text);

    QByteArray m_publicKey;
    QByteArray m_secretKey;
    QString m_errorString;
};
