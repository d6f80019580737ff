#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class ReleaseStatement;

// The vendor's signature over an update configuration: a signed release
// statement (see ReleaseStatement) that names the configuration's SHA-256,
// kept beside the configuration as its URL + ".sig" and checked with Ed25519
// against public keys compiled into the updater. Any one of several keys may
// have signed, so that a key can be rotated.
//
// Text forms: a public key is 64 hexadecimal digits, keys in a list are
// separated by blanks, commas or semicolons; a signature file holds the
// statement's line, then the 64 signature bytes in base64 on a line of their
// own.
class ConfigSignature
{
public:
    // The keys of `text`; false with `*error` set when one of them is malformed.
    static bool parsePublicKeys(const QString &text, QList<QByteArray> *keys, QString *error);
    static QByteArray signatureFile(const QByteArray &statement, const QByteArray &signature);

    // True when one of the keys of `trustedKeys` signed a statement that
    // names `document` exactly as it is; otherwise `*reason` says why not.
    // The statement goes to `*statement` when it is wanted.
    static bool verify(const QByteArray &document, const QByteArray &signatureFile,
                       const QString &trustedKeys, QString *reason,
                       ReleaseStatement *statement = nullptr);
    // verify() over the contents of two files; a file that cannot be read is
    // a reason too.
    static bool verifyFiles(const QString &documentPath, const QString &signaturePath,
                            const QString &trustedKeys, QString *reason,
                            ReleaseStatement *statement = nullptr);

    // The keys a program trusts, as it carries them in plain bytes (see
    // VELMORA_TRUSTED_KEYS_RECORD), so that a release tool reads them from
    // the program's file, a Windows one too, without running it. False when
    // the file holds no such record.
    static bool keysOfProgram(const QByteArray &program, QString *keys);
    // The keys of a record that a program carries.
    static QString keysOfRecord(const char *record);

    static const int signatureSize = 64;
    // The largest signature file an updater reads, which the packager keeps
    // to: the statement names about 150 bytes per file of the configuration,
    // so this leaves room for some 400 of them.
    static constexpr qint64 largestFile = 64 * 1024;
};

// The record of the keys `keys` (a string literal) that a program carries.
#define VELMORA_TRUSTED_KEYS_RECORD_START "<velmora trusted configuration keys:"
#define VELMORA_TRUSTED_KEYS_RECORD(keys) VELMORA_TRUSTED_KEYS_RECORD_START keys ">"
