#include "packager/releasebuilder.h"

#include "packager/diffscheduler.h"
#include "packager/filetree.h"
#include "packager/installcheck.h"
#include "packager/packagerplatform.h"
#include "packager/packetassembler.h"
#include "packager/releaseinputs.h"
#include "packager/releasesigner.h"
#include "packager/releaseverifier.h"
#include "packager/selfupdatepacket.h"
#include "releasecontract/filemd5.h"
#include "releasecontract/releaseconfiguration.h"
#include "releasecontract/releaselayout.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace {

// The updater's patch applier reads sizes and offsets as 32-bit values.
const qint64 largestPatchedFile = 0x7fffffff;

} // namespace

// What one old version needs and gets.
struct ReleaseBuilder::Update
{
    QString version;
    std::unique_ptr<FileTree> tree;
    QStringList changed;
    QStringList added;
    QStringList gone;
    QString partialName;
    QString replaceName;
    QByteArray partialMd5;
    QByteArray replaceMd5;
    qint64 partialBytes = 0;
    qint64 replaceBytes = 0;
    // Every changed file, as the configuration lists it.
    PatchList patches;
    // The changed files that the partial packet carries as patches, and
    // those it carries whole.
    PatchList patched;
    QStringList whole;
    qint64 diffMilliseconds = 0;
};

ReleaseBuilder::ReleaseBuilder(const ReleaseOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    // "out/", as completion writes it, names the folder "out".
    if (!m_options.outFolder.isEmpty())
        m_options.outFolder = QDir::cleanPath(m_options.outFolder);
    m_inputs = std::make_unique<ReleaseInputs>(m_options);
}

ReleaseBuilder::~ReleaseBuilder() = default;

bool ReleaseBuilder::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

bool ReleaseBuilder::run()
{
    m_published.clear();
    const bool checked = checkInputs() && scanTrees() && checkTrees() && compareTrees();
    if (!checked || m_options.dryRun)
        return checked;
    const bool built = makeStagingFolder() && makePatches() && writePackets() && copyInstaller() &&
                       writeConfiguration() && verify() && publish();
    // The staging folder goes in any case; after publishing it is empty.
    m_staging.reset();
    PackagerPlatform::removeOnInterrupt(QString());
    return built;
}

QVector<ReleaseBuilder::UpdateSummary> ReleaseBuilder::updateSummaries() const
{
    QVector<UpdateSummary> summaries;
    for (const auto &update : m_updates)
        summaries.append({update->version, update->changed.size(), update->patched.size(),
                          update->whole.size(), update->added.size(), update->gone.size(),
                          update->partialName, update->replaceName, update->partialBytes,
                          update->replaceBytes});
    return summaries;
}

QString ReleaseBuilder::configurationUrl() const
{
    return urlOf(m_inputs->configurationName());
}

QString ReleaseBuilder::packetName(const QString &kind, const QString &versions) const
{
    // A release for some classes only says so, so that releases for the
    // other classes can be published beside it.
    QString classes;
    if (m_options.osTags.size() != ReleaseOptions::allOsTags().size()) {
        for (const QString &tag : ReleaseOptions::allOsTags()) {
            if (m_options.osTags.contains(tag))
                classes += QLatin1Char('-') + tag;
        }
    }
    return kind + QLatin1Char('-') + versions + classes + QStringLiteral(".pak");
}

QString ReleaseBuilder::urlOf(const QString &name) const
{
    return m_options.baseUrl + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

void ReleaseBuilder::reportShare(const QString &step, quint64 done, quint64 total)
{
    const int percent = total > 0 ? int(qMin<quint64>(100, done * 100 / total)) : -1;
    if (step == m_shareStep && percent == m_sharePercent)
        return;
    m_shareStep = step;
    m_sharePercent = percent;
    emit progress(percent < 0 ? step : QStringLiteral("%1: %2 %").arg(step).arg(percent));
}

bool ReleaseBuilder::checkInputs()
{
    return m_inputs->check() || fail(m_inputs->errorString());
}

bool ReleaseBuilder::scanTrees()
{
    const FileTree::Links links =
        m_options.dereferenceLinks ? FileTree::Links::Followed : FileTree::Links::Refused;
    // Every tree is read, so that one refusal names all that is wrong; the
    // packets' names are known then.
    QStringList problems;
    emit progress(QStringLiteral("reading %1").arg(m_options.newFolder));
    m_newTree = std::make_unique<FileTree>();
    if (!m_newTree->scan(m_options.newFolder, links))
        problems.append(QStringLiteral("--new ") + m_newTree->errorString());
    for (const ReleaseOptions::OldTree &old : qAsConst(m_options.oldTrees)) {
        emit progress(QStringLiteral("reading %1").arg(old.folder));
        auto update = std::make_unique<Update>();
        update->version = old.version;
        update->tree = std::make_unique<FileTree>();
        if (!update->tree->scan(old.folder, links))
            problems.append(QStringLiteral("--old %1 ").arg(old.version) +
                            update->tree->errorString());
        const QString versions = old.version + QLatin1Char('-') + m_options.newVersion;
        update->partialName = packetName(QStringLiteral("partial"), versions);
        update->replaceName = packetName(QStringLiteral("replace"), versions);
        m_updates.push_back(std::move(update));
    }
    m_selfUpdatePacket = packetName(QStringLiteral("fixupdate"), m_options.newVersion);
    const QString installerName = m_inputs->installerName();
    for (const auto &update : m_updates) {
        if (installerName == update->partialName || installerName == update->replaceName)
            problems.append(
                QStringLiteral("--installer %1: a packet has that name").arg(installerName));
    }
    if (installerName == m_selfUpdatePacket)
        problems.append(QStringLiteral("--installer %1: the self-update packet has that name")
                            .arg(installerName));
    return problems.isEmpty() || fail(problems.join(QLatin1Char('\n')));
}

bool ReleaseBuilder::checkTrees()
{
    emit progress(QStringLiteral("checking the names against every old version"));
    QStringList problems = InstallCheck::nameProblems(*m_newTree);
    for (const auto &update : m_updates)
        problems += InstallCheck::overlayProblems(*update->tree, *m_newTree, update->version);
    return problems.isEmpty() ||
           fail(FileTree::listing(
               QStringLiteral("--new %1 cannot be installed").arg(m_options.newFolder), problems));
}

bool ReleaseBuilder::compareTrees()
{
    const QMap<QString, FileTree::File> &newFiles = m_newTree->files();
    for (const auto &update : m_updates) {
        const QMap<QString, FileTree::File> &oldFiles = update->tree->files();
        for (auto it = newFiles.constBegin(); it != newFiles.constEnd(); ++it) {
            const auto old = oldFiles.constFind(it.key());
            if (old != oldFiles.constEnd() && old->md5 == it->md5)
                continue;
            // The updater deletes every such file from a packet before it
            // hands the packet over, so this one would never be installed.
            if (ReleaseLayout::isPatchFile(it.key().toLower()))
                return fail(
                    QStringLiteral("--new: %1 ends in \".%2\", and the updater deletes such "
                                   "files from a packet before installing it; rename it")
                        .arg(it.key(), ReleaseLayout::patchSuffix()));
            if (old == oldFiles.constEnd()) {
                update->added.append(it.key());
                continue;
            }
            if (old->size > largestPatchedFile || it->size > largestPatchedFile)
                return fail(QStringLiteral("%1: 2 GiB or more, which a patch cannot express")
                                .arg(it.key()));
            update->changed.append(it.key());
            update->patches.insert(
                it.key(), PatchEntry{old->md5, it->md5, ReleaseLayout::patchFileName(it.key())});
        }
        for (auto it = oldFiles.constBegin(); it != oldFiles.constEnd(); ++it) {
            if (!newFiles.contains(it.key()))
                update->gone.append(it.key());
        }
        if (!update->gone.isEmpty())
            emit warning(QStringLiteral("%1 has %2 file(s) that %3 lacks; the update cannot remove "
                                        "them, so they stay installed: %4")
                             .arg(update->version)
                             .arg(update->gone.size())
                             .arg(m_options.newVersion, update->gone.join(QStringLiteral(", "))));
    }
    return true;
}

bool ReleaseBuilder::makeStagingFolder()
{
    const QFileInfo out(m_options.outFolder);
    const QString parent = out.absolutePath();
    if (!QDir().mkpath(parent))
        return fail(QStringLiteral("--out: the folder %1 cannot be made").arg(parent));
    // Beside the output folder, so that publishing is one rename.
    m_staging = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/.") + out.fileName() +
                                                QStringLiteral("-XXXXXX"));
    if (!m_staging->isValid())
        return fail(QStringLiteral("--out: no staging folder can be made in %1: %2")
                        .arg(parent, m_staging->errorString()));
    PackagerPlatform::removeOnInterrupt(m_staging->path());
    m_releaseFolder = m_staging->filePath(QStringLiteral("release"));
    m_workFolder = m_staging->filePath(QStringLiteral("work"));
    if (!QDir().mkpath(m_releaseFolder) || !QDir().mkpath(m_workFolder))
        return fail(
            QStringLiteral("the staging folder %1 cannot be filled").arg(m_staging->path()));
    return true;
}

bool ReleaseBuilder::makePatches()
{
    QVector<DiffScheduler::Job> jobs;
    QVector<Update *> owners;
    QStringList paths;
    const PacketAssembler assembler(*m_newTree, m_workFolder + QStringLiteral("/patches"));
    for (const auto &update : m_updates) {
        const QString patchFolder = assembler.patchFolder(update->partialName) + QLatin1Char('/');
        for (auto it = update->patches.constBegin(); it != update->patches.constEnd(); ++it) {
            DiffScheduler::Job job;
            job.oldPath = update->tree->path(it.key());
            job.newPath = m_newTree->path(it.key());
            job.patchPath = patchFolder + it->filePatch;
            job.oldBytes = update->tree->files().value(it.key()).size;
            job.newBytes = m_newTree->files().value(it.key()).size;
            jobs.append(job);
            owners.append(update.get());
            paths.append(it.key());
        }
    }
    DiffScheduler scheduler;
    scheduler.setThreads(m_options.jobs);
    scheduler.setMemoryBudget(m_options.memoryBudget);
    // Straight through: the diffing threads report while this one waits.
    connect(&scheduler, &DiffScheduler::progress, this, &ReleaseBuilder::progress,
            Qt::DirectConnection);
    if (!scheduler.run(jobs))
        return fail(scheduler.errorString());
    m_diffStatistics = scheduler.statistics();
    for (int i = 0; i < jobs.size(); ++i) {
        Update &update = *owners.at(i);
        update.diffMilliseconds += jobs.at(i).milliseconds;
        // Each changed file goes into the partial packet in its cheaper
        // form. A file shipped whole lies at its own path in the packet and
        // stays in the modify list: the updater's patch step passes over an
        // entry whose new file already lies in the unpacked packet with the
        // new sum, and its backup step keeps the installed version of every
        // listed file, so that it is installed and backed up as if patched.
        if (jobs.at(i).patchBytes < jobs.at(i).wholeBytes)
            update.patched.insert(paths.at(i), update.patches.value(paths.at(i)));
        else
            update.whole.append(paths.at(i));
    }
    return true;
}

bool ReleaseBuilder::writePackets()
{
    PacketAssembler assembler(*m_newTree, m_workFolder + QStringLiteral("/patches"));
    assembler.reportProgressTo([this](const QString &packet, quint64 done, quint64 total) {
        reportShare(QStringLiteral("packing ") + packet, done, total);
    });
    for (const auto &update : m_updates) {
        if (!writeUpdatePackets(*update, assembler))
            return false;
    }
    return writeSelfUpdatePacket(assembler);
}

bool ReleaseBuilder::writeUpdatePackets(Update &update, PacketAssembler &assembler)
{
    QStringList replaced = update.changed + update.added;
    replaced.sort();
    if (!writePacket(update.replaceName, replaced.size(), [&] {
            return assembler.writeReplacePacket(releasePath(update.replaceName), replaced);
        }))
        return fail(assembler.errorString());
    update.replaceBytes = m_published.last().bytes;
    update.replaceMd5 = fileMd5(releasePath(update.replaceName));
    m_published.last().replaceBytes = update.replaceBytes;

    // The updater fetches the partial packet first. One that carries no
    // patch, or saves nothing, gives way to the replace packet, which the
    // configuration then names for both: unpacked, it holds every changed
    // file whole at its path, which the patch step takes as done.
    const auto replaceServes = [&] {
        update.partialName = update.replaceName;
        update.partialBytes = update.replaceBytes;
        update.partialMd5 = update.replaceMd5;
        update.whole = update.changed;
        update.patched.clear();
        return true;
    };
    if (update.patched.isEmpty())
        return replaceServes();
    QStringList whole = update.whole + update.added;
    whole.sort();
    if (!writePacket(update.partialName, update.patched.size() + whole.size(), [&] {
            return assembler.writePartialPacket(releasePath(update.partialName), update.patched,
                                                whole);
        }))
        return fail(assembler.errorString());
    PublishedFile partial = m_published.takeLast();
    if (partial.bytes >= update.replaceBytes) {
        QFile::remove(releasePath(update.partialName));
        return replaceServes();
    }
    partial.replaceBytes = update.replaceBytes;
    partial.milliseconds += update.diffMilliseconds;
    m_published.insert(m_published.size() - 1, partial);
    update.partialBytes = partial.bytes;
    update.partialMd5 = fileMd5(releasePath(update.partialName));
    return true;
}

bool ReleaseBuilder::writeSelfUpdatePacket(PacketAssembler &assembler)
{
    QString cache = m_options.cacheFolder;
    if (cache.isEmpty())
        cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                QStringLiteral("/self-update");
    m_selfUpdate =
        std::make_unique<SelfUpdatePacket>(m_inputs->updaterFiles(), m_inputs->programsToStrip(),
                                           cache, m_workFolder + QStringLiteral("/runtime"));
    const QString path = releasePath(m_selfUpdatePacket);
    if (!writePacket(m_selfUpdatePacket, m_inputs->updaterFiles().size(), [&] {
            return m_selfUpdate->write(
                path, [&](const QString &target, const QMap<QString, QString> &files) {
                    return assembler.writeSelfUpdatePacket(target, files);
                });
        }))
        return fail(m_selfUpdate->errorString().isEmpty() ? assembler.errorString()
                                                          : m_selfUpdate->errorString());
    if (!m_selfUpdate->cacheWarning().isEmpty())
        emit warning(m_selfUpdate->cacheWarning());
    m_selfUpdateSummary = {m_selfUpdatePacket, m_selfUpdate->sourceBytes(),
                           m_selfUpdate->strippedBytes(), m_published.last().bytes,
                           m_selfUpdate->reused()};
    return true;
}

bool ReleaseBuilder::writePacket(const QString &name, int files, const std::function<bool()> &write)
{
    reportShare(QStringLiteral("packing ") + name, 0, 0);
    QElapsedTimer timer;
    timer.start();
    if (!write())
        return false;
    m_published.append({name, files, QFileInfo(releasePath(name)).size(), 0, timer.elapsed()});
    return true;
}

QString ReleaseBuilder::releasePath(const QString &name) const
{
    return m_releaseFolder + QLatin1Char('/') + name;
}

bool ReleaseBuilder::copyInstaller()
{
    QElapsedTimer timer;
    timer.start();
    const QString installerName = m_inputs->installerName();
    const QString path = releasePath(installerName);
    emit progress(QStringLiteral("copying %1").arg(installerName));
    if (!QFile::copy(m_options.installer, path))
        return fail(QStringLiteral("--installer %1 cannot be copied into the release")
                        .arg(m_options.installer));
    m_published.append({installerName, 1, QFileInfo(path).size(), 0, timer.elapsed()});
    return true;
}

ReleaseConfiguration::ReleaseClass ReleaseBuilder::releaseClass() const
{
    ReleaseConfiguration::ReleaseClass values;
    // The installer's sum is taken from the original: the check compares the
    // published copy with it.
    values.installer = {urlOf(m_inputs->installerName()), fileMd5(m_options.installer)};
    values.selfUpdate = {urlOf(m_selfUpdatePacket), fileMd5(releasePath(m_selfUpdatePacket))};
    values.selfUpdateFor = m_options.selfUpdateFor;
    for (const auto &update : m_updates)
        values.updates.append({update->version,
                               {urlOf(update->partialName), update->partialMd5},
                               {urlOf(update->replaceName), update->replaceMd5},
                               update->patches});
    return values;
}

bool ReleaseBuilder::writeConfiguration()
{
    ReleaseConfiguration configuration = m_inputs->mergedConfiguration();
    const ReleaseConfiguration::ReleaseClass values = releaseClass();
    QStringList versions;
    for (const auto &update : m_updates)
        versions.append(update->version);
    for (const QString &tag : qAsConst(m_options.osTags))
        configuration.setReleaseClass(tag, values);

    const QString conflict = configuration.conflictingUrl();
    if (!conflict.isEmpty())
        return fail(QStringLiteral("the configuration would name %1 with two different MD5 sums; "
                                   "publishing one file would break the other entry")
                        .arg(conflict));
    if (!m_options.mergeFile.isEmpty()) {
        for (const QString &kept : configuration.keptEntries(m_options.osTags, versions))
            emit warning(QStringLiteral("kept from %1 without checking its packets: %2")
                             .arg(m_options.mergeFile, kept));
    }

    QElapsedTimer timer;
    timer.start();
    const QByteArray json = configuration.toJson();
    const QString configurationName = m_inputs->configurationName();
    if (!writeReleaseFile(configurationName, json))
        return false;
    m_published.append({configurationName, 1, json.size(), 0, timer.elapsed()});
    if (m_options.signingKeyFile.isEmpty())
        return true;
    timer.restart();
    QHash<QString, QString> releaseFiles;
    for (const QString &name : QDir(m_releaseFolder).entryList(QDir::Files))
        releaseFiles.insert(urlOf(name), releasePath(name));
    QByteArray signature;
    ReleaseSigner signer(m_options, m_inputs->signingKey());
    if (!signer.sign(m_inputs->configurationName(), configuration, json, releaseFiles, &signature))
        return fail(signer.errorString());
    const QString signatureName = m_inputs->signatureName();
    if (!writeReleaseFile(signatureName, signature))
        return false;
    m_published.append({signatureName, 1, signature.size(), 0, timer.elapsed()});
    return true;
}

bool ReleaseBuilder::writeReleaseFile(const QString &name, const QByteArray &content)
{
    QFile file(releasePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.flush())
        return fail(
            QStringLiteral("%1 cannot be written: %2").arg(file.fileName(), file.errorString()));
    return true;
}

bool ReleaseBuilder::verify()
{
    emit verificationStarted();
    QElapsedTimer timer;
    timer.start();
    ReleaseVerifier verifier(m_releaseFolder, m_workFolder + QStringLiteral("/verify"));
    verifier.reportProgressTo([this](const QString &step, quint64 done, quint64 total) {
        reportShare(step, done, total);
    });
    const QString configuration = releasePath(m_inputs->configurationName());
    const auto failed = [this, &verifier] {
        return fail(QStringLiteral("verification failed, nothing was published: ") +
                    verifier.errorString());
    };

    const ReleaseConfiguration::ReleaseClass expected = releaseClass();
    QMap<QString, QByteArray> updaterSums;
    const QMap<QString, QString> &updaterFiles = m_selfUpdate->packedFiles();
    for (auto it = updaterFiles.constBegin(); it != updaterFiles.constEnd(); ++it)
        updaterSums.insert(it.key(), fileMd5(it.value()));
    // The updater's own checks, with the public key the updaters trust.
    QStringList oldVersions;
    for (const auto &update : m_updates)
        oldVersions.append(update->version);
    if (!m_options.signingKeyFile.isEmpty() &&
        !verifier.verifyStatement(configuration, releasePath(m_inputs->signatureName()),
                                  m_inputs->signingKey().publicKeyText(),
                                  m_inputs->configurationName(), oldVersions))
        return failed();
    for (const QString &tag : qAsConst(m_options.osTags)) {
        emit progress(QStringLiteral("verifying the configuration of %1").arg(tag));
        if (!verifier.verifyConfiguration(configuration, tag, expected))
            return failed();
    }
    for (int i = 0; i < int(m_updates.size()); ++i) {
        if (!verifier.verifyUpdate(*m_updates[i]->tree, *m_newTree, expected.updates.at(i)))
            return failed();
    }
    if (!verifier.verifySelfUpdate(expected.selfUpdate, updaterSums))
        return failed();
    m_verificationMilliseconds = timer.elapsed();
    return true;
}

bool ReleaseBuilder::publish()
{
    const QString out = QFileInfo(m_options.outFolder).absoluteFilePath();
    if (QFileInfo(out).isDir() && !QDir().rmdir(out))
        return fail(QStringLiteral("--out %1 cannot be replaced").arg(m_options.outFolder));
    if (!QDir().rename(m_releaseFolder, out))
        return fail(QStringLiteral("the release cannot be moved to %1").arg(m_options.outFolder));
    return true;
}
