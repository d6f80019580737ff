#pragma once

#include "packager/releaseoptions.h"
#include "releasecontract/releaseconfiguration.h"
#include "releasecontract/signingkey.h"

#include <QMap>
#include <QString>
#include <QStringList>

// The checks of a release's inputs that need no diffing: the new tree holds
// files, the installer and the names it gives the configuration, the signing
// key, the configuration to merge into, the updater's run-time files and the
// output folder. They run before anything is written, so that a mistake
// costs nothing.
class ReleaseInputs
{
public:
    explicit ReleaseInputs(const ReleaseOptions &options);

    // False with errorString() for the first input that cannot make a release.
    bool check();

    QString installerName() const { return m_installerName; }
    // The updater finds the configuration beside an installer whose URL it
    // was given, under the installer's name + ".json".
    QString configurationName() const { return m_installerName + QStringLiteral(".json"); }
    QString signatureName() const { return configurationName() + QStringLiteral(".sig"); }
    // The self-update packet's files: name in the packet -> source file.
    const QMap<QString, QString> &updaterFiles() const { return m_updaterFiles; }
    // The names among them that are this build's programs, to be stripped.
    const QStringList &programsToStrip() const { return m_programsToStrip; }
    // Loaded when the options name a key.
    const SigningKey &signingKey() const { return m_signingKey; }
    // The configuration that --merge names, or an empty one.
    const ReleaseConfiguration &mergedConfiguration() const { return m_merged; }
    QString errorString() const { return m_errorString; }

private:
    bool fail(const QString &text);
    bool checkNewTree();
    bool checkInstaller();
    bool checkSigning();
    bool checkMerge();
    bool findUpdaterFiles();
    // A signed release's self-update updater trusts the signing key: an
    // installation that updates itself runs it next, and one that does not
    // trust the key would check nothing from then on.
    bool checkUpdaterTrustsKey();
    bool checkOutFolder();

    const ReleaseOptions m_options;
    QString m_installerName;
    QMap<QString, QString> m_updaterFiles;
    QStringList m_programsToStrip;
    SigningKey m_signingKey;
    ReleaseConfiguration m_merged;
    QString m_errorString;
};
