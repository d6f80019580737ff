#pragma once

#include "packager/releaseoptions.h"
#include "releasecontract/signingkey.h"

#include <QMap>
#include <QString>

// The checks of a release's inputs that need no diffing: the installer and
// the names it gives the configuration, the signing key, the merged
// configuration, the updater's run-time files and the output folder. They run
// before anything is written, so that a mistake costs nothing.
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
    // Loaded when the options name a key.
    const SigningKey &signingKey() const { return m_signingKey; }
    QString errorString() const { return m_errorString; }

private:
    bool fail(const QString &text);
    bool checkInstaller();
    bool checkSigning();
    bool findUpdaterFiles();
    // A signed release's self-update updater trusts the signing key: an
    // installation that updates itself runs it next, and one that does not
    // trust the key would check nothing from then on.
    bool checkUpdaterTrustsKey();
    bool checkOutFolder();

    const ReleaseOptions m_options;
    QString m_installerName;
    QMap<QString, QString> m_updaterFiles;
    SigningKey m_signingKey;
    QString m_errorString;
};
