#pragma once

#include "packager/diffscheduler.h"
#include "packager/releaseoptions.h"
#include "releasecontract/releaseconfiguration.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <vector>

class FileTree;
class PacketAssembler;
class ReleaseInputs;
class SelfUpdatePacket;
class QTemporaryDir;

// Makes a release from the trees of the options: checks the inputs
// (ReleaseInputs) and the trees (InstallCheck) before any work, diffs every
// changed file within the memory budget (DiffScheduler), packs the packets
// (PacketAssembler, SelfUpdatePacket), copies the installer and writes the
// configuration into a staging folder beside the output folder, verifies
// everything the way the updater will use it (ReleaseVerifier), and only then
// renames the staging folder into the output folder. A failure, or an
// interrupt, leaves the output folder as it was.
class ReleaseBuilder : public QObject
{
    Q_OBJECT

public:
    // One line of the summary: a published file.
    struct PublishedFile
    {
        QString name;
        int files = 0;
        qint64 bytes = 0;
        // The replace packet of the same old version, for the ratio; 0: none.
        qint64 replaceBytes = 0;
        qint64 milliseconds = 0;
    };
    // How the files of one old version go.
    struct UpdateSummary
    {
        QString oldVersion;
        int changed = 0;
        int patched = 0;
        int whole = 0;
        int added = 0;
        int leftInstalled = 0;
        QString partialName;
        QString replaceName;
        qint64 partialBytes = 0;
        qint64 replaceBytes = 0;
    };
    struct SelfUpdateSummary
    {
        QString name;
        // The run-time before and after stripping.
        qint64 sourceBytes = 0;
        qint64 strippedBytes = 0;
        qint64 packetBytes = 0;
        bool reused = false;
    };

    explicit ReleaseBuilder(const ReleaseOptions &options, QObject *parent = nullptr);
    ~ReleaseBuilder() override;

    bool run();

    QString errorString() const { return m_errorString; }
    const QVector<PublishedFile> &publishedFiles() const { return m_published; }
    QVector<UpdateSummary> updateSummaries() const;
    const SelfUpdateSummary &selfUpdateSummary() const { return m_selfUpdateSummary; }
    // The published configuration's URL.
    QString configurationUrl() const;
    qint64 verificationMilliseconds() const { return m_verificationMilliseconds; }
    // The diffs of all old versions: how many, how long they took on all
    // threads together, and their work added up; the threads and the memory
    // budget they had.
    const DiffScheduler::Statistics &diffStatistics() const { return m_diffStatistics; }

signals:
    // Something the release engineer should know that does not stop it.
    void warning(const QString &text);
    // Where a long step stands: "step" or "step: detail"; the latest line
    // replaces the one before.
    void progress(const QString &line);
    void verificationStarted();

private:
    struct Update;

    bool fail(const QString &text);
    bool checkInputs();
    bool scanTrees();
    bool checkTrees();
    bool compareTrees();
    bool makeStagingFolder();
    bool makePatches();
    bool writePackets();
    bool writeUpdatePackets(Update &update, PacketAssembler &assembler);
    bool writeSelfUpdatePacket(PacketAssembler &assembler);
    // Writes the packet `name` of `files` files with `write` and lists it.
    bool writePacket(const QString &name, int files, const std::function<bool()> &write);
    bool copyInstaller();
    bool writeConfiguration();
    // What the configuration says of every release class.
    ReleaseConfiguration::ReleaseClass releaseClass() const;
    bool verify();
    bool publish();
    // Reports `step` alone (total 0), or its share done as "step: N %"
    // whenever that changes.
    void reportShare(const QString &step, quint64 done, quint64 total);

    QString packetName(const QString &kind, const QString &versions) const;
    QString urlOf(const QString &name) const;
    QString releasePath(const QString &name) const;
    bool writeReleaseFile(const QString &name, const QByteArray &content);

    ReleaseOptions m_options;
    std::unique_ptr<QTemporaryDir> m_staging;
    QString m_releaseFolder;
    QString m_workFolder;
    std::unique_ptr<ReleaseInputs> m_inputs;
    std::unique_ptr<FileTree> m_newTree;
    std::vector<std::unique_ptr<Update>> m_updates;
    QString m_selfUpdatePacket;
    std::unique_ptr<SelfUpdatePacket> m_selfUpdate;
    SelfUpdateSummary m_selfUpdateSummary;
    QVector<PublishedFile> m_published;
    qint64 m_verificationMilliseconds = 0;
    DiffScheduler::Statistics m_diffStatistics;
    QString m_shareStep;
    int m_sharePercent = -1;
    QString m_errorString;
};
