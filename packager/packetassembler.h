#pragma once

#include "releasecontract/patchentry.h"

#include <QMap>
#include <QString>
#include <QStringList>

class FileTree;

// Packs the packets of a release with the archive module's 7z writer. A
// packet unpacks into one folder named like it (see ReleaseLayout); a
// partial packet holds the patches of the changed files and the added files
// whole, a replace packet every changed and added file whole, the
// self-update packet the updater's run-time.
class PacketAssembler
{
public:
    // The new version's tree, and the folder holding the patches of each
    // partial packet in a sub-folder named like the packet's folder.
    PacketAssembler(const FileTree &newTree, const QString &patchRoot);

    bool writePartialPacket(const QString &path, const PatchList &patches,
                            const QStringList &added);
    bool writeReplacePacket(const QString &path, const QStringList &files);
    // `files`: name in the packet -> source file.
    bool writeSelfUpdatePacket(const QString &path, const QMap<QString, QString> &files);

    // Where the patches of the partial packet `packetName` are made.
    QString patchFolder(const QString &packetName) const;
    QString errorString() const { return m_errorString; }

private:
    const FileTree &m_newTree;
    const QString m_patchRoot;
    QString m_errorString;
};
