#include "packager/releaseverifier.h"

#include "package/bsdiffcontrol.h"
#include "package/lib7z.h"
#include "packager/filetree.h"
#include "packager/installcheck.h"
#include "releasecontract/configsignature.h"
#include "releasecontract/filemd5.h"
#include "releasecontract/releaselayout.h"
#include "releasecontract/updateconfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QUrl>

namespace {

// Hands the unpacked share of a packet on.
class UnpackProgress : public Lib7z::ExtractCallback
{
public:
    explicit UnpackProgress(const std::function<void(quint64, quint64)> &report) : m_report(report)
    {}

    HRESULT progressUpdated(quint64 completed, quint64 total) override
    {
        m_report(completed, total);
        return S_OK;
    }

private:
    const std::function<void(quint64, quint64)> m_report;
};

bool samePatches(const PatchList &a, const PatchList &b)
{
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.constBegin(); it != a.constEnd(); ++it) {
        const PatchEntry &other = b.value(it.key());
        if (it->filePatch != other.filePatch || it->oldFileMd5 != other.oldFileMd5 ||
            it->newFileMd5 != other.newFileMd5)
            return false;
    }
    return true;
}

} // namespace

ReleaseVerifier::ReleaseVerifier(const QString &releaseFolder, const QString &workFolder)
    : m_releaseFolder(releaseFolder), m_workFolder(workFolder)
{}

bool ReleaseVerifier::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

void ReleaseVerifier::report(const QString &step, quint64 done, quint64 total) const
{
    if (m_progress)
        m_progress(step, done, total);
}

bool ReleaseVerifier::verifyStatement(const QString &configPath, const QString &signaturePath,
                                      const QString &publicKey, const QString &channel,
                                      const QStringList &oldVersions)
{
    QString reason;
    if (!ConfigSignature::verifyFiles(configPath, signaturePath, publicKey, &reason, &m_statement))
        return fail(QStringLiteral("the signature does not hold: ") + reason);
    for (const QString &version : oldVersions) {
        if (!m_statement.admits(channel, version, QDateTime::currentDateTimeUtc(), QDateTime(),
                                &reason))
            return fail(QStringLiteral("an updater of %1 would refuse the signed release: %2")
                            .arg(version, reason));
    }
    m_statementHeld = true;
    return true;
}

bool ReleaseVerifier::verifyConfiguration(const QString &configPath, const QString &osTag,
                                          const ReleaseConfiguration::ReleaseClass &expected)
{
    UpdateConfig installer;
    installer.configPath = configPath;
    if (!installer.getInstallerInfo(osTag) || installer.installerUrl != expected.installer.url ||
        installer.installerMd5 != expected.installer.md5)
        return fail(
            QStringLiteral("%1: the installer reads back unlike it was written").arg(osTag));

    UpdateConfig selfUpdate;
    selfUpdate.configPath = configPath;
    if (!selfUpdate.getFixUpdateInfo(osTag) ||
        selfUpdate.fixUpdatePacketUrl != expected.selfUpdate.url ||
        selfUpdate.fixUpdatePacketMd5 != expected.selfUpdate.md5)
        return fail(QStringLiteral("%1: the self-update packet reads back unlike it was written")
                        .arg(osTag));
    for (const QString &version : expected.selfUpdateFor) {
        if (!selfUpdate.fixUpdateUesedVersion.contains(version))
            return fail(QStringLiteral("%1: %2 is not listed for self-update").arg(osTag, version));
    }

    for (const ReleaseConfiguration::Update &update : expected.updates) {
        // A reader of its own: the patch list of one read is never emptied.
        UpdateConfig partial;
        partial.configPath = configPath;
        if (!partial.getPartialPacketInfo(osTag, update.oldVersion) ||
            partial.partialPacketUrl != update.partial.url ||
            partial.partialPacketMd5 != update.partial.md5 ||
            partial.replacePacketUrl != update.replace.url ||
            partial.replacePacketMd5 != update.replace.md5 ||
            !samePatches(partial.modify, update.patches))
            return fail(QStringLiteral("%1: the packets of %2 read back unlike they were written")
                            .arg(osTag, update.oldVersion));
    }
    QString path;
    if (!publishedFile(expected.installer, &path) || !publishedFile(expected.selfUpdate, &path))
        return false;
    for (const ReleaseConfiguration::Update &update : expected.updates) {
        if (!publishedFile(update.partial, &path) || !publishedFile(update.replace, &path))
            return false;
    }
    return true;
}

bool ReleaseVerifier::verifyUpdate(const FileTree &oldTree, const FileTree &newTree,
                                   const ReleaseConfiguration::Update &update)
{
    QString partialFolder;
    if (!unpack(update.partial, &partialFolder))
        return false;
    report(QStringLiteral("patching %2 file(s) of %1 with the updater's code to check them")
               .arg(update.oldVersion)
               .arg(update.patches.size()));
    BsdiffControl patcher;
    patcher.modifyList = update.patches;
    patcher.oldDir = oldTree.root();
    patcher.patchDir = partialFolder;
    patcher.newDir = partialFolder;
    QString patchFailure;
    bool patched = false;
    QObject::connect(&patcher, &BsdiffControl::bsdiffSuccessSignal, [&] { patched = true; });
    QObject::connect(&patcher, &BsdiffControl::bsdiffFailSignal,
                     [&](const QString &text) { patchFailure = text; });
    patcher.applyPatchList();
    if (!patched)
        return fail(QStringLiteral("%1: the partial packet does not apply: %2")
                        .arg(update.oldVersion, patchFailure));
    if (!compareOverlay(oldTree, partialFolder, newTree, update.oldVersion,
                        update.oldVersion + QStringLiteral(" patched")))
        return false;

    QString replaceFolder;
    return unpack(update.replace, &replaceFolder) &&
           compareOverlay(oldTree, replaceFolder, newTree, update.oldVersion,
                          update.oldVersion + QStringLiteral(" with the replace packet"));
}

bool ReleaseVerifier::verifySelfUpdate(const ReleaseConfiguration::Packet &packet,
                                       const QMap<QString, QByteArray> &files)
{
    QString folder;
    if (!unpack(packet, &folder))
        return false;
    FileTree unpacked;
    if (!unpacked.scan(folder))
        return fail(QStringLiteral("self-update packet: ") + unpacked.errorString());
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        if (unpacked.files().value(it.key()).md5 != it.value())
            return fail(
                QStringLiteral("self-update packet: %1 unpacks unlike its source").arg(it.key()));
    }
    if (unpacked.files().size() != files.size())
        return fail(QStringLiteral("self-update packet: it unpacks into other files than it was "
                                   "made of"));
    // The first run starts it from there.
    if (!QFileInfo(folder + QLatin1Char('/') + ReleaseLayout::updaterProgram()).isExecutable())
        return fail(QStringLiteral("self-update packet: update.exe unpacks without the right to "
                                   "be started"));
    return true;
}

bool ReleaseVerifier::publishedFile(const ReleaseConfiguration::Packet &packet, QString *path)
{
    // The updater saves a download under the decoded last segment of its URL.
    const QString name = QUrl(packet.url).fileName(QUrl::FullyDecoded);
    *path = m_releaseFolder + QLatin1Char('/') + name;
    if (name.isEmpty() || !QFileInfo(*path).isFile())
        return fail(QStringLiteral("%1 names no file of the release").arg(packet.url));
    if (fileMd5(*path) != packet.md5)
        return fail(QStringLiteral("%1: its MD5 is not the one in the configuration").arg(name));
    QString reason;
    if (m_statementHeld && !m_statement.coversFile(packet.url, *path, &reason))
        return fail(reason);
    return true;
}

bool ReleaseVerifier::unpack(const ReleaseConfiguration::Packet &packet, QString *folder)
{
    QString path;
    if (!publishedFile(packet, &path))
        return false;
    const QString target = m_workFolder + QStringLiteral("/unpacked-%1").arg(++m_unpackCount);
    const QString name = QFileInfo(path).fileName();
    // The updater unpacks into its work folder and works on the folder the
    // packet's name gives.
    const QString folderName = ReleaseLayout::packetFolderName(name);
    *folder = target + QLatin1Char('/') + folderName;
    Lib7z::registerArchiveCodecs();
    QFile archive(path);
    if (!archive.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(name, archive.errorString()));
    const QString step = QStringLiteral("unpacking %1 to check it").arg(name);
    report(step);
    UnpackProgress progress([&](quint64 done, quint64 total) { report(step, done, total); });
    try {
        if (!Lib7z::extractToDirectory(&archive, target, &progress))
            return fail(QStringLiteral("%1 cannot be unpacked").arg(name));
    } catch (const Lib7z::SevenZipException &e) {
        return fail(QStringLiteral("%1 cannot be unpacked: %2").arg(name, e.message()));
    }
    const QStringList entries = QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                       QDir::Hidden | QDir::System);
    if (entries != QStringList{folderName})
        return fail(QStringLiteral("%1 unpacks into %2, not into the one folder %3")
                        .arg(name, entries.join(QStringLiteral(", ")), folderName));
    return true;
}

bool ReleaseVerifier::compareOverlay(const FileTree &oldTree, const QString &folder,
                                     const FileTree &newTree, const QString &version,
                                     const QString &what)
{
    report(QStringLiteral("comparing %1 with the new version").arg(what));
    FileTree unpacked;
    if (!unpacked.scan(folder))
        return fail(what + QStringLiteral(": ") + unpacked.errorString());
    const QStringList clashes = InstallCheck::overlayProblems(oldTree, unpacked, version);
    if (!clashes.isEmpty())
        return fail(FileTree::listing(what + QStringLiteral(" cannot be installed"), clashes));
    const QMap<QString, FileTree::File> &newFiles = newTree.files();
    for (auto it = unpacked.files().constBegin(); it != unpacked.files().constEnd(); ++it) {
        if (!newFiles.contains(it.key()))
            return fail(QStringLiteral("%1: %2 is installed but not part of the new version")
                            .arg(what, it.key()));
        if (newFiles.value(it.key()).md5 != it->md5)
            return fail(QStringLiteral("%1: %2 differs from the new version (MD5 %3, expected %4)")
                            .arg(what, it.key(), QString::fromLatin1(it->md5),
                                 QString::fromLatin1(newFiles.value(it.key()).md5)));
    }
    for (auto it = newFiles.constBegin(); it != newFiles.constEnd(); ++it) {
        if (unpacked.files().contains(it.key()))
            continue;
        if (!oldTree.files().contains(it.key()))
            return fail(QStringLiteral("%1: %2 is missing").arg(what, it.key()));
        // What the update does not bring stays as installed, read again now.
        if (fileMd5(oldTree.path(it.key())) != it->md5)
            return fail(QStringLiteral("%1: %2 stays as the old version, which differs from "
                                       "the new one")
                            .arg(what, it.key()));
    }
    return true;
}
