#pragma once

#include "releasecontract/releaseconfiguration.h"
#include "releasecontract/releasestatement.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

class FileTree;

// Checks a release before it is published, the way the updater will use it:
// the configuration read back with the updater's reader, every packet
// unpacked with the updater's extraction code into a work folder, and the
// patches applied with the updater's patch list runner to the old tree.
// Each check returns false with errorString() naming what differs.
class ReleaseVerifier
{
public:
    ReleaseVerifier(const QString &releaseFolder, const QString &workFolder);

    // Told of each step, and of the bytes unpacked so far (total 0: none).
    using Progress = std::function<void(const QString &step, quint64 done, quint64 total)>;
    void reportProgressTo(const Progress &progress) { m_progress = progress; }

    // The configuration's signature holds under `publicKey`, and its
    // statement admits the release onto each of `oldVersions` read under the
    // name `channel`; from then on every published file is checked against
    // the statement too.
    bool verifyStatement(const QString &configPath, const QString &signaturePath,
                         const QString &publicKey, const QString &channel,
                         const QStringList &oldVersions);
    // The configuration gives the release class exactly these values.
    bool verifyConfiguration(const QString &configPath, const QString &osTag,
                             const ReleaseConfiguration::ReleaseClass &expected);
    // Both packets of the update bring the old tree to the new one.
    bool verifyUpdate(const FileTree &oldTree, const FileTree &newTree,
                      const ReleaseConfiguration::Update &update);
    // The self-update packet unpacks into exactly these files (name -> MD5),
    // with update.exe ready to be started.
    bool verifySelfUpdate(const ReleaseConfiguration::Packet &packet,
                          const QMap<QString, QByteArray> &files);

    QString errorString() const { return m_errorString; }

private:
    bool fail(const QString &text);
    // The published file that a URL of the configuration names, as the
    // updater derives it, checked against the sum.
    bool publishedFile(const ReleaseConfiguration::Packet &packet, QString *path);
    // Unpacks a packet into a fresh folder; sets the folder that the updater
    // then works on: the packet's name without its extension.
    bool unpack(const ReleaseConfiguration::Packet &packet, QString *folder);
    // The old tree of `version` with the unpacked folder laid over it, as
    // the setup program lays it, against the new tree.
    bool compareOverlay(const FileTree &oldTree, const QString &folder, const FileTree &newTree,
                        const QString &version, const QString &what);
    void report(const QString &step, quint64 done = 0, quint64 total = 0) const;

    QString m_releaseFolder;
    QString m_workFolder;
    int m_unpackCount = 0;
    Progress m_progress;
    ReleaseStatement m_statement;
    bool m_statementHeld = false;
    QString m_errorString;
};
