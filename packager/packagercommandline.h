#pragma once

#include "packager/releaseoptions.h"

#include <QString>
#include <QStringList>

// The command line of update-packager. Each command has its own options;
// without a command name the release is built.
class PackagerCommandLine
{
public:
    enum class Command
    {
        BuildRelease,
        GenerateKey,
    };
    enum class Outcome
    {
        Run,
        ShowHelp,
        ShowVersion,
        Invalid,
    };

    Outcome parse(const QStringList &arguments);

    Command command() const { return m_command; }
    const ReleaseOptions &releaseOptions() const { return m_release; }
    // The folder that `keygen` writes the key pair into.
    QString keyFolder() const { return m_keyFolder; }
    QString helpText() const { return m_helpText; }
    static QString versionText();
    QString errorString() const { return m_errorString; }

private:
    Outcome parseRelease(const QStringList &arguments);
    Outcome parseKeygen(const QStringList &arguments);
    Outcome fail(const QString &text);

    Command m_command = Command::BuildRelease;
    ReleaseOptions m_release;
    QString m_keyFolder;
    QString m_helpText;
    QString m_errorString;
};
