#include "releasecontract/configsignature.h"

#include "releasecontract/releasestatement.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <sodium.h>

namespace {
const QByteArray recordStart = QByteArrayLiteral(VELMORA_TRUSTED_KEYS_RECORD_START);
const QByteArray recordKeys = QByteArrayLiteral("0123456789abcdefABCDEF ");
} // namespace

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

QByteArray ConfigSignature::signatureFile(const QByteArray &statement, const QByteArray &signature)
{
    return statement + '\n' + signature.toBase64() + '\n';
}

bool ConfigSignature::verify(const QByteArray &document, const QByteArray &signatureFile,
                             const QString &trustedKeys, QString *reason,
                             ReleaseStatement *statement)
{
    QList<QByteArray> keys;
    if (!parsePublicKeys(trustedKeys, &keys, reason))
        return false;
    if (keys.isEmpty()) {
        *reason = QStringLiteral("no public key to check it against");
        return false;
    }
    const int lineEnd = signatureFile.indexOf('\n');
    const QByteArray signedStatement = signatureFile.left(lineEnd);
    const QByteArray signature = QByteArray::fromBase64(
        signatureFile.mid(lineEnd + 1).trimmed(),
        QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (lineEnd < 0 || signature.size() != signatureSize) {
        *reason = QStringLiteral("not a signed release statement");
        return false;
    }
    if (sodium_init() < 0) {
        *reason = QStringLiteral("the signature library cannot start");
        return false;
    }
    bool signedByTrustedKey = false;
    for (const QByteArray &key : qAsConst(keys)) {
        signedByTrustedKey =
            signedByTrustedKey ||
            crypto_sign_verify_detached(
                reinterpret_cast<const unsigned char *>(signature.constData()),
                reinterpret_cast<const unsigned char *>(signedStatement.constData()),
                quint64(signedStatement.size()),
                reinterpret_cast<const unsigned char *>(key.constData())) == 0;
    }
    if (!signedByTrustedKey) {
        *reason = QStringLiteral("no trusted key made this signature");
        return false;
    }
    ReleaseStatement read;
    if (!read.fromJson(signedStatement, reason) || !read.coversConfiguration(document, reason))
        return false;
    if (statement)
        *statement = read;
    return true;
}

bool ConfigSignature::verifyFiles(const QString &documentPath, const QString &signaturePath,
                                  const QString &trustedKeys, QString *reason,
                                  ReleaseStatement *statement)
{
    QFile document(documentPath);
    QFile signature(signaturePath);
    if (!document.open(QIODevice::ReadOnly) || !signature.open(QIODevice::ReadOnly)) {
        *reason =
            QStringLiteral("cannot read %1").arg(document.isOpen() ? signaturePath : documentPath);
        return false;
    }
    return verify(document.readAll(), signature.readAll(), trustedKeys, reason, statement);
}

bool ConfigSignature::keysOfProgram(const QByteArray &program, QString *keys)
{
    // The start of the record also stands alone in every program that links
    // this code: only a start followed by keys and the end counts.
    for (int start = program.indexOf(recordStart); start >= 0;
         start = program.indexOf(recordStart, start + 1)) {
        int end = start + recordStart.size();
        while (end < program.size() && recordKeys.contains(program.at(end)))
            ++end;
        if (end < program.size() && program.at(end) == '>') {
            *keys = QString::fromLatin1(
                program.mid(start + recordStart.size(), end - start - recordStart.size()));
            return true;
        }
    }
    return false;
}

QString ConfigSignature::keysOfRecord(const char *record)
{
    QString keys;
    keysOfProgram(QByteArray(record), &keys);
    return keys;
}
