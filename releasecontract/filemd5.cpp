#include "releasecontract/filemd5.h"

#include <QCryptographicHash>
#include <QFile>

QByteArray fileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result().toHex();
}
