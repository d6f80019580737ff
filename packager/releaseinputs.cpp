#include "packager/releaseinputs.h"

#include "packager/filetree.h"
#include "packager/selfupdatepacket.h"
#include "releasecontract/configsignature.h"
#include "releasecontract/releaselayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

// The path with every link resolved, also when its last parts do not exist
// yet: the nearest existing folder resolved, the rest as written.
QString resolvedPath(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath()) {
        rest = QLatin1Char('/') + QFileInfo(existing).fileName() + rest;
        existing = QFileInfo(existing).path();
    }
    return QDir::cleanPath(QFileInfo(existing).canonicalFilePath() + rest);
}

} // namespace

ReleaseInputs::ReleaseInputs(const ReleaseOptions &options) : m_options(options) {}

bool ReleaseInputs::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

bool ReleaseInputs::check()
{
    return checkNewTree() && checkInstaller() && checkSigning() && checkMerge() &&
           findUpdaterFiles() && checkUpdaterTrustsKey() && checkOutFolder();
}

bool ReleaseInputs::checkNewTree()
{
    if (!QFileInfo(m_options.newFolder).isDir())
        return fail(QStringLiteral("--new %1 is not a folder").arg(m_options.newFolder));
    // A mistyped build folder would publish a release that installs nothing.
    QDirIterator::IteratorFlags flags = QDirIterator::Subdirectories;
    if (m_options.dereferenceLinks)
        flags |= QDirIterator::FollowSymlinks;
    QDirIterator files(m_options.newFolder, QDir::Files | QDir::Hidden | QDir::System, flags);
    if (!files.hasNext())
        return fail(
            QStringLiteral("--new %1 holds no files: nothing to release").arg(m_options.newFolder));
    return true;
}

bool ReleaseInputs::checkInstaller()
{
    const QFileInfo installer(m_options.installer);
    if (!installer.isFile())
        return fail(QStringLiteral("--installer %1: no such file").arg(m_options.installer));
    m_installerName = installer.fileName();
    if (m_installerName.endsWith(QStringLiteral(".pak")))
        return fail(QStringLiteral("--installer %1: a name ending in .pak is kept for packets")
                        .arg(m_options.installer));
    return true;
}

bool ReleaseInputs::checkSigning()
{
    if (!m_options.signingKeyFile.isEmpty() && !m_signingKey.load(m_options.signingKeyFile))
        return fail(QStringLiteral("--sign-key: ") + m_signingKey.errorString());
    return true;
}

bool ReleaseInputs::checkMerge()
{
    const QString &merge = m_options.mergeFile;
    if (merge.isEmpty())
        return true;
    if (!QFileInfo(merge).isFile())
        return fail(QStringLiteral("--merge %1: no such file").arg(merge));
    if (!m_merged.load(merge))
        return fail(QStringLiteral("--merge: ") + m_merged.errorString());
    const QString signature = merge + QStringLiteral(".sig");
    if (!QFileInfo::exists(signature))
        return true;
    // Updaters that trust the merged configuration's key would refuse an
    // unsigned one.
    if (m_options.signingKeyFile.isEmpty())
        return fail(QStringLiteral("--merge %1 is signed (%2): give --sign-key to sign the merged "
                                   "configuration")
                        .arg(merge, signature));
    // Signing it again would vouch for whatever was changed since.
    QString reason;
    if (!ConfigSignature::verifyFiles(merge, signature, m_signingKey.publicKeyText(), &reason))
        return fail(QStringLiteral("--merge %1: its signature %2 does not hold under the key of "
                                   "--sign-key (%3); it may have been changed since it was "
                                   "signed, so it is not signed again")
                        .arg(merge, signature, reason));
    return true;
}

bool ReleaseInputs::findUpdaterFiles()
{
    const QString updater = ReleaseLayout::updaterProgram();
    const QString setup = ReleaseLayout::setupProgram();
    if (m_options.updaterFolder.isEmpty()) {
        // This build's programs; the updater is named without ".exe" here.
        const QString built = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        const QString update = QFileInfo::exists(built + updater)
                                   ? built + updater
                                   : built + QFileInfo(updater).completeBaseName();
        m_updaterFiles.insert(updater, update);
        m_updaterFiles.insert(setup, built + setup);
        for (const QString &source : qAsConst(m_updaterFiles)) {
            if (!QFileInfo(source).isFile())
                return fail(
                    QStringLiteral("%1 is missing: build it, or give --updater").arg(source));
        }
        // A build keeps what only a debugger reads, many times the program.
        m_programsToStrip = m_updaterFiles.keys();
        if (SelfUpdatePacket::stripProgram().isEmpty())
            return fail(QStringLiteral("strip is missing to strip this build's update and %1: "
                                       "install binutils, or give --updater")
                            .arg(setup));
        return true;
    }
    FileTree folder;
    if (!folder.scan(m_options.updaterFolder, m_options.dereferenceLinks
                                                  ? FileTree::Links::Followed
                                                  : FileTree::Links::Refused))
        return fail(QStringLiteral("--updater ") + folder.errorString());
    for (const QString &name : {updater, setup}) {
        if (!folder.files().contains(name))
            return fail(QStringLiteral("--updater %1 holds no %2 at its top level")
                            .arg(m_options.updaterFolder, name));
    }
    for (auto it = folder.files().constBegin(); it != folder.files().constEnd(); ++it)
        m_updaterFiles.insert(it.key(), folder.path(it.key()));
    return true;
}

bool ReleaseInputs::checkUpdaterTrustsKey()
{
    if (m_options.signingKeyFile.isEmpty())
        return true;
    const QString path = m_updaterFiles.value(ReleaseLayout::updaterProgram());
    QFile program(path);
    if (!program.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1 cannot be read: %2").arg(path, program.errorString()));
    const QString publicKey = m_signingKey.publicKeyText();
    QString keyText;
    QList<QByteArray> keys;
    QString what;
    if (!ConfigSignature::keysOfProgram(program.readAll(), &keyText))
        what = QStringLiteral("carries no record of the keys it trusts (not an update program "
                              "of this kind, or an older one)");
    else if (!ConfigSignature::parsePublicKeys(keyText, &keys, &what))
        what = QStringLiteral("carries a malformed record of its keys: ") + what;
    else if (keys.isEmpty())
        what = QStringLiteral("trusts no key and checks no signature");
    else if (keys.contains(QByteArray::fromHex(publicKey.toLatin1())))
        return true;
    else
        what = QStringLiteral("trusts other keys only (%1)").arg(keyText.trimmed());
    const QString trusted = (keyText.trimmed() + QLatin1Char(' ') + publicKey).trimmed();
    return fail(
        QStringLiteral("--sign-key: the self-update packet's update.exe (%1) %2. Installations "
                       "that update themselves would run it next and accept what this key "
                       "does not sign. Build update with -DVELMORA_CONFIG_PUBLIC_KEYS=\"%3\" "
                       "and give its run-time folder with --updater.")
            .arg(path, what, trusted));
}

bool ReleaseInputs::checkOutFolder()
{
    const QFileInfo out(m_options.outFolder);
    if (out.fileName().isEmpty())
        return fail(QStringLiteral("--out %1 names no folder that a release can be put in")
                        .arg(m_options.outFolder));
    // The staging folder beside the output folder must not become part of a
    // tree that is read afterwards, also through a link.
    const QString resolvedOut = resolvedPath(m_options.outFolder) + QLatin1Char('/');
    QStringList inputs{m_options.newFolder, m_options.updaterFolder};
    for (const ReleaseOptions::OldTree &old : qAsConst(m_options.oldTrees))
        inputs.append(old.folder);
    for (const QString &input : qAsConst(inputs)) {
        if (!input.isEmpty() && resolvedOut.startsWith(resolvedPath(input) + QLatin1Char('/')))
            return fail(QStringLiteral("--out %1 lies inside %2").arg(m_options.outFolder, input));
    }
    if (out.exists() && (!out.isDir() || !QDir(out.filePath())
                                              .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                       QDir::Hidden | QDir::System)))
        return fail(
            QStringLiteral("--out %1 exists and is not an empty folder").arg(m_options.outFolder));
    return true;
}
