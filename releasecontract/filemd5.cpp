#include "releasecontract/filemd5.h"

#include <QCryptographicHash>
#include <QFile>

namespace {
QByteArray fileHash(const QString &path, QCryptographicHash::Algorithm algorithm)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(algorithm);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result().toHex();
}
} // namespace

QByteArray fileMd5(const QString &path)
{
    return fileHash(path, QCryptographicHash::Md5);
}

QByteArray fileSha256(const QString &path)
{
    return fileHash(path, QCryptographicHash::Sha256);
}
