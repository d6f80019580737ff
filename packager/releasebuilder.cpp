#include "releasebuilder.h"

#include "bsdiff.h"
#include "control/configsignature.h"
#include "filetree.h"
#include "packetwriter.h"
#include "releaseconfiguration.h"
#include "releaseverifier.h"
#include "shared/filemd5.h"
#include "signingkey.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QTemporaryDir>
#include <QUrl>
#include <QtConcurrent>
#include <algorithm>
#include <atomic>
#include <numeric>

namespace {

// The updater's patch applier reads sizes and offsets as 32-bit values.
const qint64 largestPatchedFile = 0x7fffffff;

const char patchSuffix[] = ".patch";

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

// Patches do not need the right to be started: it would only make 7-Zip look
// at them as programs.
const QFileDevice::Permissions patchPermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadUser | QFileDevice::WriteUser |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther;

struct DiffJob
{
    QString oldPath;
    QString newPath;
    QString patchPath;
    qint64 bytes = 0;
    qint64 milliseconds = 0;
    QString error;
};

void runDiff(DiffJob &job)
{
    QElapsedTimer timer;
    timer.start();
    QFile oldFile(job.oldPath);
    QFile newFile(job.newPath);
    if (!oldFile.open(QIODevice::ReadOnly) || !newFile.open(QIODevice::ReadOnly)) {
        job.error = QStringLiteral("cannot be read");
        return;
    }
    const QByteArray patch = bsdiff(oldFile.readAll(), newFile.readAll());
    QFile patchFile(job.patchPath);
    if (patch.isEmpty())
        job.error = QStringLiteral("no patch could be made (out of memory?)");
    else if (!QDir().mkpath(QFileInfo(job.patchPath).path()) ||
             !patchFile.open(QIODevice::WriteOnly) || patchFile.write(patch) != patch.size() ||
             !patchFile.flush())
        job.error = QStringLiteral("the patch cannot be written: ") + patchFile.errorString();
    job.milliseconds = timer.elapsed();
}

} // namespace

// What one old version needs and gets.
struct ReleaseBuilder::Update
{
    QString version;
    std::unique_ptr<FileTree> tree;
    QStringList changed;
    QStringList added;
    QString partialName;
    QString replaceName;
    QByteArray partialMd5;
    QByteArray replaceMd5;
    PatchList patches;
    qint64 diffMilliseconds = 0;

    // The folder that both packets unpack into.
    QString partialFolder() const { return partialName.chopped(4); }
    QString replaceFolder() const { return replaceName.chopped(4); }
};

ReleaseBuilder::ReleaseBuilder(const ReleaseOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_signingKey(std::make_unique<SigningKey>())
{}

ReleaseBuilder::~ReleaseBuilder() = default;

bool ReleaseBuilder::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

bool ReleaseBuilder::run()
{
    m_published.clear();
    const bool built = checkInputs() && scanTrees() && compareTrees() && makePatches() &&
                       writePackets() && writeSelfUpdatePacket() && copyInstaller() &&
                       writeConfiguration() && verify() && publish();
    // The staging folder goes in any case; after publishing it is empty.
    m_staging.reset();
    return built;
}

QString ReleaseBuilder::configurationUrl() const
{
    return urlOf(m_configurationName);
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

bool ReleaseBuilder::checkInputs()
{
    const QFileInfo installer(m_options.installer);
    if (!installer.isFile())
        return fail(QStringLiteral("--installer %1: no such file").arg(m_options.installer));
    m_installerName = installer.fileName();
    // The updater finds the configuration beside an installer whose URL it
    // was given, under the installer's name + ".json".
    m_configurationName = m_installerName + QStringLiteral(".json");
    if (m_installerName.endsWith(QStringLiteral(".pak")))
        return fail(QStringLiteral("--installer %1: a name ending in .pak is kept for packets")
                        .arg(m_options.installer));
    if (!m_options.signingKeyFile.isEmpty() && !m_signingKey->load(m_options.signingKeyFile))
        return fail(QStringLiteral("--sign-key: ") + m_signingKey->errorString());
    // Updaters that trust the merged configuration's key would refuse an
    // unsigned one.
    const QString mergedSignature = m_options.mergeFile + QStringLiteral(".sig");
    if (!m_options.mergeFile.isEmpty() && m_options.signingKeyFile.isEmpty() &&
        QFileInfo::exists(mergedSignature))
        return fail(QStringLiteral("--merge %1 is signed (%2): give --sign-key to sign the merged "
                                   "configuration")
                        .arg(m_options.mergeFile, mergedSignature));

    if (m_options.updaterFolder.isEmpty()) {
        const QString built = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        const QString update = QFileInfo::exists(built + QStringLiteral("update.exe"))
                                   ? built + QStringLiteral("update.exe")
                                   : built + QStringLiteral("update");
        m_updaterFiles.insert(QStringLiteral("update.exe"), update);
        m_updaterFiles.insert(QStringLiteral("Trellim.exe"), built + QStringLiteral("Trellim.exe"));
        for (const QString &source : qAsConst(m_updaterFiles)) {
            if (!QFileInfo(source).isFile())
                return fail(
                    QStringLiteral("%1 is missing: build it, or give --updater").arg(source));
        }
    } else {
        FileTree updater;
        if (!updater.scan(m_options.updaterFolder))
            return fail(QStringLiteral("--updater: ") + updater.errorString());
        for (const QString &name : {QStringLiteral("update.exe"), QStringLiteral("Trellim.exe")}) {
            if (!updater.files().contains(name))
                return fail(QStringLiteral("--updater %1 holds no %2 at its top level")
                                .arg(m_options.updaterFolder, name));
        }
        for (auto it = updater.files().constBegin(); it != updater.files().constEnd(); ++it)
            m_updaterFiles.insert(it.key(), updater.path(it.key()));
    }

    const QFileInfo out(m_options.outFolder);
    // The staging folder beside the output folder must not become part of a
    // tree that is read afterwards.
    QStringList inputs{m_options.newFolder, m_options.updaterFolder};
    for (const ReleaseOptions::OldTree &old : qAsConst(m_options.oldTrees))
        inputs.append(old.folder);
    for (const QString &input : qAsConst(inputs)) {
        const QString root = QFileInfo(input).absoluteFilePath() + QLatin1Char('/');
        if (!input.isEmpty() && (out.absoluteFilePath() + QLatin1Char('/')).startsWith(root))
            return fail(QStringLiteral("--out %1 lies inside %2").arg(m_options.outFolder, input));
    }
    if (out.exists() && (!out.isDir() || !QDir(out.filePath())
                                              .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                       QDir::Hidden | QDir::System)))
        return fail(
            QStringLiteral("--out %1 exists and is not an empty folder").arg(m_options.outFolder));
    const QString parent = out.absolutePath();
    if (!QDir().mkpath(parent))
        return fail(QStringLiteral("--out: the folder %1 cannot be made").arg(parent));
    // Beside the output folder, so that publishing is one rename.
    m_staging = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/.") + out.fileName() +
                                                QStringLiteral("-XXXXXX"));
    if (!m_staging->isValid())
        return fail(QStringLiteral("--out: no staging folder can be made in %1: %2")
                        .arg(parent, m_staging->errorString()));
    m_releaseFolder = m_staging->filePath(QStringLiteral("release"));
    m_workFolder = m_staging->filePath(QStringLiteral("work"));
    if (!QDir().mkpath(m_releaseFolder) || !QDir().mkpath(m_workFolder))
        return fail(
            QStringLiteral("the staging folder %1 cannot be filled").arg(m_staging->path()));
    return true;
}

bool ReleaseBuilder::scanTrees()
{
    emit progress(QStringLiteral("reading %1").arg(m_options.newFolder));
    m_newTree = std::make_unique<FileTree>();
    if (!m_newTree->scan(m_options.newFolder))
        return fail(QStringLiteral("--new: ") + m_newTree->errorString());
    for (const ReleaseOptions::OldTree &old : qAsConst(m_options.oldTrees)) {
        emit progress(QStringLiteral("reading %1").arg(old.folder));
        auto update = std::make_unique<Update>();
        update->version = old.version;
        update->tree = std::make_unique<FileTree>();
        if (!update->tree->scan(old.folder))
            return fail(QStringLiteral("--old %1: ").arg(old.version) +
                        update->tree->errorString());
        const QString versions = old.version + QLatin1Char('-') + m_options.newVersion;
        update->partialName = packetName(QStringLiteral("partial"), versions);
        update->replaceName = packetName(QStringLiteral("replace"), versions);
        m_updates.push_back(std::move(update));
    }
    m_selfUpdatePacket = packetName(QStringLiteral("fixupdate"), m_options.newVersion);
    return true;
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
            if (it.key().endsWith(QLatin1String(patchSuffix), Qt::CaseInsensitive))
                return fail(QStringLiteral("--new: %1 ends in \"%2\", and the updater deletes such "
                                           "files from a packet before installing it; rename it")
                                .arg(it.key(), QLatin1String(patchSuffix)));
            if (old == oldFiles.constEnd()) {
                update->added.append(it.key());
                continue;
            }
            if (old->size > largestPatchedFile || it->size > largestPatchedFile)
                return fail(QStringLiteral("%1: 2 GiB or more, which a patch cannot express")
                                .arg(it.key()));
            update->changed.append(it.key());
            update->patches.insert(
                it.key(), PatchEntry{old->md5, it->md5, it.key() + QLatin1String(patchSuffix)});
        }
        QStringList gone;
        for (auto it = oldFiles.constBegin(); it != oldFiles.constEnd(); ++it) {
            if (!newFiles.contains(it.key()))
                gone.append(it.key());
        }
        if (!gone.isEmpty())
            emit warning(QStringLiteral("%1 has %2 file(s) that %3 lacks; the update cannot remove "
                                        "them, so they stay installed: %4")
                             .arg(update->version)
                             .arg(gone.size())
                             .arg(m_options.newVersion, gone.join(QStringLiteral(", "))));
    }
    return true;
}

bool ReleaseBuilder::makePatches()
{
    QVector<DiffJob> jobs;
    QVector<Update *> owners;
    qint64 totalBytes = 0;
    for (const auto &update : m_updates) {
        for (const QString &path : qAsConst(update->changed)) {
            DiffJob job;
            job.oldPath = update->tree->path(path);
            job.newPath = m_newTree->path(path);
            job.patchPath = m_workFolder + QStringLiteral("/patches/") + update->partialFolder() +
                            QLatin1Char('/') + update->patches.value(path).filePatch;
            job.bytes = m_newTree->files().value(path).size;
            totalBytes += job.bytes;
            jobs.append(job);
            owners.append(update.get());
        }
    }
    if (jobs.isEmpty())
        return true;

    // The largest files first, so that both cores stay busy to the end.
    QVector<int> order(jobs.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return jobs.at(a).bytes > jobs.at(b).bytes; });
    std::atomic<qint64> bytesDone{0};
    // Each thread touches its own jobs only.
    DiffJob *const jobData = jobs.data();
    const auto work = [&](int index) {
        runDiff(jobData[index]);
        bytesDone += jobData[index].bytes;
    };
    QElapsedTimer timer;
    timer.start();
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    const auto report = [&] {
        emit progress(QStringLiteral("diffing: %1 of %2 files, %3 of %4 MB")
                          .arg(watcher.progressValue())
                          .arg(jobs.size())
                          .arg(megabytes(bytesDone), megabytes(totalBytes)));
    };
    connect(&watcher, &QFutureWatcher<void>::progressValueChanged, this, report);
    connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::map(order, work));
    if (!watcher.isFinished())
        loop.exec();
    report();
    m_diffCount = jobs.size();
    m_diffMilliseconds = timer.elapsed();

    for (int i = 0; i < jobs.size(); ++i) {
        if (!jobs.at(i).error.isEmpty())
            return fail(QStringLiteral("%1 -> %2: %3")
                            .arg(jobs.at(i).oldPath, jobs.at(i).newPath, jobs.at(i).error));
        owners.at(i)->diffMilliseconds += jobs.at(i).milliseconds;
        m_diffWorkMilliseconds += jobs.at(i).milliseconds;
    }
    return true;
}

bool ReleaseBuilder::writePackets()
{
    PacketWriter writer;
    for (const auto &update : m_updates) {
        const QString patchFolder =
            m_workFolder + QStringLiteral("/patches/") + update->partialFolder() + QLatin1Char('/');
        QVector<PacketItem> partial{PacketItem::folder(update->partialFolder())};
        QVector<PacketItem> replace{PacketItem::folder(update->replaceFolder())};
        for (const QString &path : qAsConst(update->changed)) {
            const QString patch = update->patches.value(path).filePatch;
            PacketItem item = PacketItem::file(update->partialFolder() + QLatin1Char('/') + patch,
                                               patchFolder + patch);
            // Made now, but standing for the new file: the same packet comes
            // out of the same trees.
            item.modified = QFileInfo(m_newTree->path(path)).lastModified();
            item.permissions = patchPermissions;
            partial.append(item);
        }
        QStringList whole = update->changed + update->added;
        whole.sort();
        for (const QString &path : qAsConst(update->added))
            partial.append(PacketItem::file(update->partialFolder() + QLatin1Char('/') + path,
                                            m_newTree->path(path)));
        for (const QString &path : qAsConst(whole))
            replace.append(PacketItem::file(update->replaceFolder() + QLatin1Char('/') + path,
                                            m_newTree->path(path)));

        for (const auto &packet : {std::make_pair(update->partialName, &partial),
                                   std::make_pair(update->replaceName, &replace)}) {
            emit progress(QStringLiteral("packing %1").arg(packet.first));
            QElapsedTimer timer;
            timer.start();
            const QString path = m_releaseFolder + QLatin1Char('/') + packet.first;
            if (!writer.write(path, *packet.second))
                return fail(writer.errorString());
            PublishedFile published;
            published.name = packet.first;
            published.files = packet.second->size() - 1;
            published.bytes = QFileInfo(path).size();
            published.milliseconds = timer.elapsed();
            m_published.append(published);
        }
        PublishedFile &partialRow = m_published[m_published.size() - 2];
        const PublishedFile &replaceRow = m_published.last();
        partialRow.replaceBytes = replaceRow.bytes;
        partialRow.milliseconds += update->diffMilliseconds;
        m_published.last().replaceBytes = replaceRow.bytes;
        update->partialMd5 = fileMd5(m_releaseFolder + QLatin1Char('/') + update->partialName);
        update->replaceMd5 = fileMd5(m_releaseFolder + QLatin1Char('/') + update->replaceName);
    }
    return true;
}

bool ReleaseBuilder::writeSelfUpdatePacket()
{
    emit progress(QStringLiteral("packing %1").arg(m_selfUpdatePacket));
    QElapsedTimer timer;
    timer.start();
    const QString folder = m_selfUpdatePacket.chopped(4);
    QVector<PacketItem> items{PacketItem::folder(folder)};
    for (auto it = m_updaterFiles.constBegin(); it != m_updaterFiles.constEnd(); ++it)
        items.append(PacketItem::file(folder + QLatin1Char('/') + it.key(), it.value()));
    PacketWriter writer;
    const QString path = m_releaseFolder + QLatin1Char('/') + m_selfUpdatePacket;
    if (!writer.write(path, items))
        return fail(writer.errorString());
    m_published.append(
        {m_selfUpdatePacket, m_updaterFiles.size(), QFileInfo(path).size(), 0, timer.elapsed()});
    return true;
}

bool ReleaseBuilder::copyInstaller()
{
    QElapsedTimer timer;
    timer.start();
    const QString path = m_releaseFolder + QLatin1Char('/') + m_installerName;
    for (const auto &update : m_updates) {
        if (m_installerName == update->partialName || m_installerName == update->replaceName)
            return fail(
                QStringLiteral("--installer %1: a packet has that name").arg(m_installerName));
    }
    if (m_installerName == m_selfUpdatePacket || !QFile::copy(m_options.installer, path))
        return fail(QStringLiteral("--installer %1 cannot be copied into the release")
                        .arg(m_options.installer));
    m_published.append({m_installerName, 1, QFileInfo(path).size(), 0, timer.elapsed()});
    return true;
}

ReleaseConfiguration::ReleaseClass ReleaseBuilder::releaseClass() const
{
    ReleaseConfiguration::ReleaseClass values;
    // The installer's sum is taken from the original: the check compares the
    // published copy with it.
    values.installer = {urlOf(m_installerName), fileMd5(m_options.installer)};
    values.selfUpdate = {urlOf(m_selfUpdatePacket),
                         fileMd5(m_releaseFolder + QLatin1Char('/') + m_selfUpdatePacket)};
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
    ReleaseConfiguration configuration;
    if (!m_options.mergeFile.isEmpty() && !configuration.load(m_options.mergeFile))
        return fail(QStringLiteral("--merge: ") + configuration.errorString());

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
    if (!writeReleaseFile(m_configurationName, json))
        return false;
    m_published.append({m_configurationName, 1, json.size(), 0, timer.elapsed()});
    if (m_options.signingKeyFile.isEmpty())
        return true;
    timer.restart();
    const QByteArray signature = m_signingKey->signatureFile(json);
    if (!writeReleaseFile(signatureName(), signature))
        return false;
    m_published.append({signatureName(), 1, signature.size(), 0, timer.elapsed()});
    return true;
}

QString ReleaseBuilder::signatureName() const
{
    return m_configurationName + QStringLiteral(".sig");
}

bool ReleaseBuilder::writeReleaseFile(const QString &name, const QByteArray &content)
{
    QFile file(m_releaseFolder + QLatin1Char('/') + name);
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
    const QString configuration = m_releaseFolder + QLatin1Char('/') + m_configurationName;
    const auto failed = [this, &verifier] {
        return fail(QStringLiteral("verification failed, nothing was published: ") +
                    verifier.errorString());
    };

    const ReleaseConfiguration::ReleaseClass expected = releaseClass();
    QMap<QString, QByteArray> updaterSums;
    for (auto it = m_updaterFiles.constBegin(); it != m_updaterFiles.constEnd(); ++it)
        updaterSums.insert(it.key(), fileMd5(it.value()));
    if (!m_options.signingKeyFile.isEmpty()) {
        // The updater's own check, with the public key the updaters trust.
        QString reason;
        if (!ConfigSignature::verifyFiles(configuration,
                                          m_releaseFolder + QLatin1Char('/') + signatureName(),
                                          m_signingKey->publicKeyText(), &reason))
            return fail(QStringLiteral("verification failed, nothing was published: the "
                                       "signature does not hold: %1")
                            .arg(reason));
    }
    for (const QString &tag : qAsConst(m_options.osTags)) {
        emit progress(QStringLiteral("verifying the configuration of %1").arg(tag));
        if (!verifier.verifyConfiguration(configuration, tag, expected))
            return failed();
    }
    for (int i = 0; i < int(m_updates.size()); ++i) {
        emit progress(QStringLiteral("verifying the update from %1").arg(m_updates[i]->version));
        if (!verifier.verifyUpdate(*m_updates[i]->tree, *m_newTree, expected.updates.at(i)))
            return failed();
    }
    emit progress(QStringLiteral("verifying %1").arg(m_selfUpdatePacket));
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
