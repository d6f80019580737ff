#include "packager/packetassembler.h"

#include "package/lib7z.h"
#include "packager/filetree.h"
#include "releasecontract/releaselayout.h"

#include <QFileInfo>

namespace {

// Patches do not need the right to be started: it would only make 7-Zip look
// at them as programs.
const QFileDevice::Permissions patchPermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadUser | QFileDevice::WriteUser |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther;

QString folderOf(const QString &packetPath)
{
    return ReleaseLayout::packetFolderName(QFileInfo(packetPath).fileName());
}

bool write(const QString &path, const QVector<Lib7z::ArchiveItem> &items, QString *errorString)
{
    try {
        Lib7z::createArchive(path, items);
    } catch (const Lib7z::SevenZipException &e) {
        *errorString = e.message();
        return false;
    }
    return true;
}

} // namespace

PacketAssembler::PacketAssembler(const FileTree &newTree, const QString &patchRoot)
    : m_newTree(newTree), m_patchRoot(patchRoot)
{}

QString PacketAssembler::patchFolder(const QString &packetName) const
{
    return m_patchRoot + QLatin1Char('/') + ReleaseLayout::packetFolderName(packetName);
}

bool PacketAssembler::writePartialPacket(const QString &path, const PatchList &patches,
                                         const QStringList &added)
{
    const QString folder = folderOf(path);
    const QString patchSource = patchFolder(QFileInfo(path).fileName()) + QLatin1Char('/');
    QVector<Lib7z::ArchiveItem> items{Lib7z::ArchiveItem::folder(folder)};
    for (auto it = patches.constBegin(); it != patches.constEnd(); ++it) {
        Lib7z::ArchiveItem item = Lib7z::ArchiveItem::file(
            folder + QLatin1Char('/') + it->filePatch, patchSource + it->filePatch);
        // Made now, but standing for the new file: the same packet comes out
        // of the same trees.
        item.modified = QFileInfo(m_newTree.path(it.key())).lastModified();
        item.permissions = patchPermissions;
        items.append(item);
    }
    for (const QString &file : added)
        items.append(
            Lib7z::ArchiveItem::file(folder + QLatin1Char('/') + file, m_newTree.path(file)));
    return write(path, items, &m_errorString);
}

bool PacketAssembler::writeReplacePacket(const QString &path, const QStringList &files)
{
    const QString folder = folderOf(path);
    QVector<Lib7z::ArchiveItem> items{Lib7z::ArchiveItem::folder(folder)};
    for (const QString &file : files)
        items.append(
            Lib7z::ArchiveItem::file(folder + QLatin1Char('/') + file, m_newTree.path(file)));
    return write(path, items, &m_errorString);
}

bool PacketAssembler::writeSelfUpdatePacket(const QString &path,
                                            const QMap<QString, QString> &files)
{
    const QString folder = folderOf(path);
    QVector<Lib7z::ArchiveItem> items{Lib7z::ArchiveItem::folder(folder)};
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        items.append(Lib7z::ArchiveItem::file(folder + QLatin1Char('/') + it.key(), it.value()));
    return write(path, items, &m_errorString);
}
