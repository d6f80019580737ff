#include "releasecontract/signingkey.h"

#include "releasecontract/configsignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <sodium.h>

namespace {
const char secretKeyComment[] =
    "# update-packager: the secret key that signs update configurations. Keep it on the\n"
    "# release machine and readable by its owner only; whoever holds it decides what\n"
    "# every updater that trusts its public key installs.\n";

bool writeFile(const QString &path, const QByteArray &content, QFileDevice::Permissions mode,
               QString *error)
{
    QSaveFile file(path);
    // The permissions are set before the secret is written into the file.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(mode) ||
        file.write(content) != content.size() || !file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
} // namespace

bool SigningKey::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

bool SigningKey::derive(const QByteArray &seed)
{
    if (sodium_init() < 0)
        return fail(QStringLiteral("the signature library cannot start"));
    m_publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    m_secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(m_publicKey.data()),
                             reinterpret_cast<unsigned char *>(m_secretKey.data()),
                             reinterpret_cast<const unsigned char *>(seed.constData()));
    return true;
}

bool SigningKey::generate(const QString &folder)
{
    const QString secretPath = folder + QLatin1Char('/') + secretKeyFileName();
    const QString publicPath = folder + QLatin1Char('/') + publicKeyFileName();
    if (QFileInfo::exists(secretPath) || QFileInfo::exists(publicPath))
        return fail(
            QStringLiteral("%1 already holds a key; a key is never overwritten").arg(folder));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("%1 cannot be created").arg(folder));
    if (sodium_init() < 0)
        return fail(QStringLiteral("the signature library cannot start"));
    QByteArray seed(crypto_sign_SEEDBYTES, '\0');
    randombytes_buf(seed.data(), size_t(seed.size()));
    if (!derive(seed))
        return false;
    const QByteArray secret = secretKeyComment + seed.toHex() + '\n';
    sodium_memzero(seed.data(), size_t(seed.size()));
    return writeFile(secretPath, secret, QFileDevice::ReadOwner | QFileDevice::WriteOwner,
                     &m_errorString) &&
           writeFile(publicPath, publicKeyText().toLatin1() + '\n',
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                         QFileDevice::ReadOther,
                     &m_errorString);
}

bool SigningKey::load(const QString &secretKeyFile)
{
    QFile file(secretKeyFile);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1 cannot be read: %2").arg(secretKeyFile, file.errorString()));
    static const QRegularExpression seedLine(QStringLiteral("^[0-9a-fA-F]{64}$"));
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromLatin1(line.trimmed());
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        if (!seedLine.match(text).hasMatch())
            break;
        return derive(QByteArray::fromHex(text.toLatin1()));
    }
    return fail(
        QStringLiteral("%1 is not a key made by update-packager keygen").arg(secretKeyFile));
}

QString SigningKey::publicKeyText() const
{
    return QString::fromLatin1(m_publicKey.toHex());
}

QByteArray SigningKey::signatureFile(const QByteArray &statement) const
{
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(statement.constData()),
                         quint64(statement.size()),
                         reinterpret_cast<const unsigned char *>(m_secretKey.constData()));
    return ConfigSignature::signatureFile(statement, signature);
}
