#include "package/bsdiffcontrol.h"

#include "package/bspatch.h"
#include "releasecontract/filemd5.h"
#include "releasecontract/relativepath.h"

#include <QDebug>
#include <QFile>

BsdiffControl::BsdiffControl(QObject *parent) : QObject(parent) {}

void BsdiffControl::applyPatchList()
{
    for (auto entry = modifyList.cbegin(); entry != modifyList.cend(); ++entry) {
        const QString failure = applyPatch(entry.key(), entry.value());
        if (!failure.isEmpty()) {
            emit bsdiffFailSignal(failure);
            return;
        }
    }
    emit bsdiffSuccessSignal();
}

QString BsdiffControl::applyPatch(const QString &file, const PatchEntry &entry) const
{
    // Both paths come from the configuration; neither may reach out of its folder.
    if (!staysInsideFolder(file) || !staysInsideFolder(entry.filePatch))
        return tr("Path leaves its folder: %1 %2").arg(file, entry.filePatch);

    const QString oldPath = oldDir + QStringLiteral("/") + file;
    const QString newPath = newDir + QStringLiteral("/") + file;
    const QString patchPath = patchDir + QStringLiteral("/") + entry.filePatch;

    // A file patched by an earlier run of the same packet is not patched again.
    if (QFile::exists(newPath) && fileMd5(newPath) == entry.newFileMd5) {
        qDebug() << "patched file already present" << newPath;
        return QString();
    }
    if (!QFile::exists(oldPath))
        return tr("Missing %1").arg(oldPath);
    const QByteArray oldMd5 = fileMd5(oldPath);
    // The patch is kept: nothing has been written for this file.
    if (oldMd5 == entry.newFileMd5) {
        qDebug() << "installed file is already new" << oldPath;
        return QString();
    }
    if (oldMd5 != entry.oldFileMd5)
        return tr("%1  md5 is not match,file md5 %2,json md5 %3")
            .arg(oldPath, QString::fromLatin1(oldMd5), QString::fromLatin1(entry.oldFileMd5));

    qDebug() << "patching" << oldPath << "with" << patchPath << "into" << newPath;
    if (bspatchFile(oldPath.toLocal8Bit(), newPath.toLocal8Bit(), patchPath.toLocal8Bit()) != 0)
        return tr("Faile to patch %1").arg(oldPath);
    const QByteArray newMd5 = fileMd5(newPath);
    if (newMd5 != entry.newFileMd5)
        return tr("Patch ok,but out file(%1) md5 is not match,error md5 is %2")
            .arg(newPath, QString::fromLatin1(newMd5));

    QFile::remove(patchPath);
    return QString();
}
