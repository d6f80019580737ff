#include "packager/releaseinputs.h"

#include "packager/filetree.h"
#include "releasecontract/configsignature.h"
#include "releasecontract/releaselayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

ReleaseInputs::ReleaseInputs(const ReleaseOptions &options) : m_options(options) {}

bool ReleaseInputs::fail(const QString &text)
{
    m_errorString = text;
    return false;
}

bool ReleaseInputs::check()
{
    return checkInstaller() && checkSigning() && findUpdaterFiles() && checkUpdaterTrustsKey() &&
           checkOutFolder();
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
    // Updaters that trust the merged configuration's key would refuse an
    // unsigned one.
    const QString mergedSignature = m_options.mergeFile + QStringLiteral(".sig");
    if (!m_options.mergeFile.isEmpty() && m_options.signingKeyFile.isEmpty() &&
        QFileInfo::exists(mergedSignature))
        return fail(QStringLiteral("--merge %1 is signed (%2): give --sign-key to sign the merged "
                                   "configuration")
                        .arg(m_options.mergeFile, mergedSignature));
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
        return true;
    }
    FileTree folder;
    if (!folder.scan(m_options.updaterFolder))
        return fail(QStringLiteral("--updater: ") + folder.errorString());
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
    return true;
}
