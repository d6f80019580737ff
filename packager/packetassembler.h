#pragma once

#include "package/lib7z.h"
#include "releasecontract/patchentry.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

class FileTree;

// Packs the packets of a release with the archive module's 7z writer. A
// packet unpacks into one folder named like it (see ReleaseLayout); a
// partial packet holds the patches of the changed files that are cheaper as
// patches and the other changed and added files whole, a replace packet
// every changed and added file whole, the self-update packet the updater's
// run-time.
class PacketAssembler
{
public:
    // The new version's tree, and the folder holding the patches of each
    // partial packet in a sub-folder named like the packet's folder.
    PacketAssembler(const FileTree &newTree, const QString &patchRoot);

    // Told of the bytes read so far while a packet (its file name) is written.
    using Progress = std::function<void(const QString &packet, quint64 done, quint64 total)>;
    void reportProgressTo(const Progress &progress) { m_progress = progress; }

    // `patched`: the files shipped as their patches; `whole`: the files
    // shipped as they are in the new tree.
    bool writePartialPacket(const QString &path, const PatchList &patched,
                            const QStringList &whole);
    bool writeReplacePacket(const QString &path, const QStringList &files);
    // `files`: name in the packet -> source file.
    bool writeSelfUpdatePacket(const QString &path, const QMap<QString, QString> &files);

    // Where the patches of the partial packet `packetName` are made.
    QString patchFolder(const QString &packetName) const;
    QString errorString() const { return m_errorString; }

    // What `file` adds to a packet when it is shipped whole: the size of a
    // packet of it alone at `probePath` (removed again) less that of the
    // same packet of an empty file, which is the headers. -1 with `*error`
    // when it cannot be packed.
    static qint64 wholeFileCost(const QString &file, const QString &probePath, QString *error);

private:
    bool write(const QString &path, const QVector<Lib7z::ArchiveItem> &items);

    const FileTree &m_newTree;
    const QString m_patchRoot;
    Progress m_progress;
    QString m_errorString;
};
