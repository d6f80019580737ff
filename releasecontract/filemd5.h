#pragma once

#include <QByteArray>
#include <QString>

// MD5 of a file's whole content as 32 lower-case hexadecimal characters, or an
// empty byte string when the file cannot be opened or read. Configuration sums
// are compared with this value byte for byte.
QByteArray fileMd5(const QString &path);
// The same for SHA-256 (64 characters), which signed releases rest on.
QByteArray fileSha256(const QString &path);
