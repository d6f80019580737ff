#include "packager/packetassembler.h"

#include "packager/filetree.h"
#include "releasecontract/releaselayout.h"

#include <QFile>
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

bool writeArchive(const QString &path, const QVector<Lib7z::ArchiveItem> &items,
                  const Lib7z::ArchiveProgress &progress, QString *errorString)
{
    try {
        Lib7z::createArchive(path, items, progress);
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

bool PacketAssembler::write(const QString &path, const QVector<Lib7z::ArchiveItem> &items)
{
    const QString name = QFileInfo(path).fileName();
    Lib7z::ArchiveProgress progress;
    if (m_progress)
        progress = [this, name](quint64 done, quint64 total) { m_progress(name, done, total); };
    return writeArchive(path, items, progress, &m_errorString);
}

bool PacketAssembler::writePartialPacket(const QString &path, const PatchList &patched,
                                         const QStringList &whole)
{
    const QString folder = folderOf(path);
    const QString patchSource = patchFolder(QFileInfo(path).fileName()) + QLatin1Char('/');
    QVector<Lib7z::ArchiveItem> items{Lib7z::ArchiveItem::folder(folder)};
    for (auto it = patched.constBegin(); it != patched.constEnd(); ++it) {
        Lib7z::ArchiveItem item = Lib7z::ArchiveItem::file(
            folder + QLatin1Char('/') + it->filePatch, patchSource + it->filePatch);
        // Made now, but standing for the new file: the same packet comes out
        // of the same trees.
        item.modified = QFileInfo(m_newTree.path(it.key())).lastModified();
        item.permissions = patchPermissions;
        items.append(item);
    }
    for (const QString &file : whole)
        items.append(
            Lib7z::ArchiveItem::file(folder + QLatin1Char('/') + file, m_newTree.path(file)));
    return write(path, items);
}

bool PacketAssembler::writeReplacePacket(const QString &path, const QStringList &files)
{
    return writePartialPacket(path, PatchList(), files);
}

bool PacketAssembler::writeSelfUpdatePacket(const QString &path,
                                            const QMap<QString, QString> &files)
{
    const QString folder = folderOf(path);
    QVector<Lib7z::ArchiveItem> items{Lib7z::ArchiveItem::folder(folder)};
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        items.append(Lib7z::ArchiveItem::file(folder + QLatin1Char('/') + it.key(), it.value()));
    return write(path, items);
}

qint64 PacketAssembler::wholeFileCost(const QString &file, const QString &probePath, QString *error)
{
    // The file's own name, so that the writer picks the filter it picks in
    // a packet.
    Lib7z::ArchiveItem item = Lib7z::ArchiveItem::file(QFileInfo(file).fileName(), file);
    const QString emptyProbe = probePath + QStringLiteral(".empty");
    const QString emptyFile = probePath + QStringLiteral(".nothing");
    QFile nothing(emptyFile);
    if (!nothing.open(QIODevice::WriteOnly)) {
        *error = emptyFile + QStringLiteral(": ") + nothing.errorString();
        return -1;
    }
    nothing.close();
    Lib7z::ArchiveItem empty = item;
    empty.sourcePath = emptyFile;
    empty.size = 0;
    const bool packed =
        writeArchive(probePath, {item}, {}, error) && writeArchive(emptyProbe, {empty}, {}, error);
    const qint64 cost = QFileInfo(probePath).size() - QFileInfo(emptyProbe).size();
    for (const QString &path : {probePath, emptyProbe, emptyFile})
        QFile::remove(path);
    return packed ? cost : -1;
}
