#include "setup/durablefile.h"

#include "setup/setupplatform.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {
const qint64 copyChunk = 1 << 16;

QString fileError(const QFileDevice &file)
{
    return QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
}

// Creates `target` afresh, never through a link left in its place, and
// writes `content` (or, when `source` is set, the source's bytes) to the disk.
bool writeNew(const QString &target, QFile::Permissions permissions, QFile *source,
              const QByteArray &content, QByteArray *md5, QString *error)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = fileError(out);
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    bool written = out.setPermissions(permissions);
    QByteArray chunk = source ? source->read(copyChunk) : content;
    while (written && !chunk.isEmpty()) {
        hash.addData(chunk);
        written = out.write(chunk) == chunk.size();
        chunk = source ? source->read(copyChunk) : QByteArray();
    }
    if (source && source->error() != QFileDevice::NoError) {
        *error = fileError(*source);
        written = false;
    } else if (!written || !SetupPlatform::syncFile(out)) {
        *error = fileError(out);
        written = false;
    }
    out.close();
    if (!written) {
        QFile::remove(target);
        return false;
    }
    if (md5)
        *md5 = hash.result().toHex();
    return true;
}
} // namespace

QString DurableFile::temporaryName(const QString &target)
{
    return target + QStringLiteral(".trellim-new");
}

bool DurableFile::copy(const QString &source, const QString &target, QByteArray *md5,
                       QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = fileError(in);
        return false;
    }
    return writeNew(target, in.permissions(), &in, QByteArray(), md5, error);
}

bool DurableFile::replace(const QString &source, const QString &target, bool keepTargetPermissions,
                          const QByteArray &expectedMd5, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = fileError(in);
        return false;
    }
    // The permissions are part of what is put on the disk: a power cut must
    // not leave a program without its execute permission.
    const QFile::Permissions permissions =
        keepTargetPermissions ? QFileInfo(target).permissions() : in.permissions();
    const QString temporary = temporaryName(target);
    QFile::remove(temporary);
    QByteArray md5;
    if (!writeNew(temporary, permissions, &in, QByteArray(), &md5, error))
        return false;
    if (!expectedMd5.isEmpty() && md5 != expectedMd5) {
        *error = QStringLiteral("%1: its bytes have the sum %2, not the checked %3")
                     .arg(source, QString::fromLatin1(md5), QString::fromLatin1(expectedMd5));
        QFile::remove(temporary);
        return false;
    }
    return rename(temporary, target, error);
}

bool DurableFile::write(const QString &target, const QByteArray &content, QString *error)
{
    const QString temporary = temporaryName(target);
    QFile::remove(temporary);
    return writeNew(temporary,
                    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther,
                    nullptr, content, nullptr, error) &&
           rename(temporary, target, error);
}

bool DurableFile::sync(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && SetupPlatform::syncFile(file);
}

bool DurableFile::rename(const QString &temporary, const QString &target, QString *error)
{
    if (!SetupPlatform::replaceFile(temporary, target)) {
        *error = QStringLiteral("%1: %2").arg(target, qt_error_string());
        QFile::remove(temporary);
        return false;
    }
    if (!SetupPlatform::syncFolder(QFileInfo(target).path())) {
        *error = QStringLiteral("%1: its folder cannot be put on the disk: %2")
                     .arg(target, qt_error_string());
        return false;
    }
    return true;
}
