#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The vendor's signature over an update configuration: an Ed25519 detached
// signature, kept beside the configuration as its URL + ".sig" and checked
// against public keys compiled into the updater. Any one of several keys may
// have signed, so that a key can be rotated.
//
// Text forms: a public key is 64 hexadecimal digits, keys in a list are
// separated by blanks, commas or semicolons; a signature file holds the 64
// signature bytes in base64, surrounding white space ignored.
class ConfigSignature
{
public:
    // The keys of `text`; false with `*error` set when one of them is malformed.
    static bool parsePublicKeys(const QString &text, QList<QByteArray> *keys, QString *error);
    static QByteArray signatureFile(const QByteArray &signature);

    // True when one of the keys of `trustedKeys` signed `document` exactly as
    // it is; otherwise `*reason` says why not.
    static bool verify(const QByteArray &document, const QByteArray &signatureFile,
                       const QString &trustedKeys, QString *reason);
    // verify() over the contents of two files; a file that cannot be read is
    // a reason too.
    static bool verifyFiles(const QString &documentPath, const QString &signaturePath,
                            const QString &trustedKeys, QString *reason);

    static const int signatureSize = 64;
};
