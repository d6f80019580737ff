#pragma once

#include "logcapture.h"
#include "recordingtool.h"
#include "releasecontract/patchentry.h"
#include "releasecontract/releasestatement.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class NginxServer;
class TestHttpServer;

// Everything one update needs, built in a temporary folder at test time: an
// installation (with a blank in its path) holding a setup program that records
// its arguments, the work folder under a private XDG_DATA_HOME, 7z packets made
// with 7zz, BSDIFF40 patches made with bsdiff, an installer that records its
// arguments, and a server that publishes them.
// It also captures the debug log of the process while it lives.
class ControlTestFixture
{
public:
    // The configuration's values for osTag "mac" and version "2.0".
    struct Config
    {
        bool withFixUpdatePacket = true;
        QByteArray fixUpdatePacketMd5;
        QString fixUpdatePacketUrl;
        QStringList fixUpdateUesedVersion;
        QByteArray installerMd5;
        QString installerUrl;
        bool withPartialPacket = true;
        QByteArray partialPacketMd5;
        QString partialPacketUrl;
        QByteArray replacePacketMd5;
        QString replacePacketUrl;
        PatchList modify;

        // The installed copy of one listed file no longer has its old sum.
        void breakPatch();
        QByteArray toJson() const;
    };

    ControlTestFixture();
    ~ControlTestFixture();

    bool isValid() const { return errorMessage.isEmpty(); }
    QString errorText() const { return errorMessage; }

    bool startServer(bool nginx);
    QString url(const QString &name) const;
    // Puts content on the server under /name; returns its MD5.
    QByteArray publish(const QString &name, const QByteArray &content);
    // Puts a file of `size` zero bytes on the server under /name without
    // writing them (a sparse file).
    bool publishSparse(const QString &name, qint64 size);
    bool publishConfig(const Config &config);
    // A partial packet that also carries the replace packet beside its folder,
    // published as partial.pak; returns its MD5.
    QByteArray publishPartialCarryingReplace();
    // Test signing keys made from fixed seeds: the one a test build trusts
    // and one it does not.
    enum SigningKey
    {
        TrustedKey,
        OtherKey,
    };
    // The public key in the text form the build setting takes.
    static QString publicKey(SigningKey key);
    // The statement of release 2.0 for `document` as update.json, signed
    // now, naming the SHA-256 of every file published so far.
    ReleaseStatement statement(const QByteArray &document) const;
    // The signature file of `statement` made with `key`.
    static QByteArray signatureFile(const ReleaseStatement &statement, SigningKey key);

    // The partial packet under another file name, its folder named to match;
    // returns its MD5.
    QByteArray publishPartialAs(const QString &fileName);
    int requestCount(const QByteArray &method, const QString &name) const;

    // Puts this build's setup program into the installation, by default in
    // place of the recording stand-in.
    bool installRealSetupProgram(const QString &name = QStringLiteral("Trellim.exe"));
    // A self-update packet that holds this build's update program and setup
    // program, published as fix.pak; returns its MD5.
    QByteArray publishRealSelfUpdatePacket();

    Config defaultConfig() const;
    // A built packet: "partial.pak", "replace.pak", "fix.pak", "setup.dmg", or any
    // other name for a copy of the replace packet.
    QByteArray packet(const QString &name) const;
    QByteArray md5(const QString &name) const;
    bool placeInWorkFolder(const QString &name, const QByteArray &content);

    // The arguments of the installer's and the setup program's last start.
    QStringList installerArguments() const;
    QStringList trellimArguments() const;
    // The arguments of the last start of the updater that the self-update
    // packet carries.
    QStringList selfUpdateArguments() const;
    // Relative path -> content of the listed files under folder.
    QMap<QString, QByteArray> filesUnder(const QString &folder) const;
    QMap<QString, QByteArray> newFiles() const { return newContents; }
    QMap<QString, QByteArray> oldFiles() const { return oldContents; }

    // The debug lines logged so far, from every thread.
    static QStringList log();

    QString root;
    QString installPath;
    QString updateDir;

private:
    bool build();
    bool run(const QString &program, const QStringList &arguments, const QString &directory);
    bool writeFile(const QString &path, const QByteArray &content);
    bool makePacket(const QString &folder, const QStringList &members);

    QTemporaryDir dir;
    QString errorMessage;
    std::unique_ptr<RecordingTool> installer;
    std::unique_ptr<RecordingTool> trellim;
    std::unique_ptr<RecordingTool> newUpdater;
    QString stagingDir;
    QString wwwDir;
    QMap<QString, QByteArray> oldContents;
    QMap<QString, QByteArray> newContents;
    std::unique_ptr<TestHttpServer> httpServer;
    std::unique_ptr<NginxServer> nginxServer;
    QString accessLogPath;
    // By URL.
    QMap<QString, QByteArray> publishedSha256;
    QMap<QString, qint64> publishedSizes;
    LogCapture logCapture;
};
