#include "controltestfixture.h"

#include "nginxserver.h"
#include "releasecontract/configsignature.h"
#include "testhttpserver.h"
#include "updatesandbox.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QProcess>
#include <sodium.h>

namespace {
QByteArray md5Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
}

// Incompressible, reproducible file content, so that patches are real work.
QByteArray pseudoRandom(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = char(seed >> 16);
    }
    return bytes;
}

const char wrongMd5[] = "0123456789abcdef0123456789abcdef";
} // namespace

void ControlTestFixture::Config::breakPatch()
{
    modify[QStringLiteral("app.dll")].oldFileMd5 = wrongMd5;
}

QByteArray ControlTestFixture::Config::toJson() const
{
    QJsonObject mac;
    if (withFixUpdatePacket) {
        mac.insert(QStringLiteral("fixUpdatePacket"),
                   QJsonObject{{QStringLiteral("fixUpdatePacketMd5"),
                                QString::fromLatin1(fixUpdatePacketMd5)},
                               {QStringLiteral("fixUpdatePacketUrl"), fixUpdatePacketUrl},
                               {QStringLiteral("fixUpdateUesedVersion"),
                                QJsonArray::fromStringList(fixUpdateUesedVersion)}});
    }
    mac.insert(QStringLiteral("installerMd5"), QString::fromLatin1(installerMd5));
    mac.insert(QStringLiteral("installerUrl"), installerUrl);
    if (withPartialPacket) {
        QJsonObject patch;
        for (auto it = modify.cbegin(); it != modify.cend(); ++it) {
            patch.insert(
                it.key(),
                QJsonObject{{QStringLiteral("filePatch"), it->filePatch},
                            {QStringLiteral("oldFileMd5"), QString::fromLatin1(it->oldFileMd5)},
                            {QStringLiteral("newFileMd5"), QString::fromLatin1(it->newFileMd5)}});
        }
        const QJsonObject packets{
            {QStringLiteral("partialPacketMd5"), QString::fromLatin1(partialPacketMd5)},
            {QStringLiteral("partialPacketUrl"), partialPacketUrl},
            {QStringLiteral("replacePacketMd5"), QString::fromLatin1(replacePacketMd5)},
            {QStringLiteral("replacePacketUrl"), replacePacketUrl},
            {QStringLiteral("modify"), QJsonObject{{QStringLiteral("patch"), patch}}}};
        mac.insert(QStringLiteral("partialPacket"), QJsonObject{{QStringLiteral("2.0"), packets}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("mac"), mac}}).toJson();
}

ControlTestFixture::ControlTestFixture()
{
    if (!dir.isValid())
        errorMessage = QStringLiteral("no temporary folder");
    else
        build();
}

ControlTestFixture::~ControlTestFixture()
{
    if (nginxServer)
        nginxServer->stop();
}

bool ControlTestFixture::build()
{
    root = dir.path();
    installPath = root + QStringLiteral("/install dir");
    updateDir = root + QStringLiteral("/data/Velmora/update");
    stagingDir = root + QStringLiteral("/staging");
    wwwDir = root + QStringLiteral("/www");
    // The controller's work folder follows the application-data location.
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    if (!QDir().mkpath(updateDir) || !QDir().mkpath(wwwDir)) {
        errorMessage = QStringLiteral("cannot create the folders");
        return false;
    }

    oldContents.insert(QStringLiteral("app.dll"), pseudoRandom(40000, 1));
    oldContents.insert(QStringLiteral("lib/core.dll"), pseudoRandom(9000, 2));
    for (auto it = oldContents.cbegin(); it != oldContents.cend(); ++it) {
        QByteArray changed = it.value();
        changed.replace(100, 50, pseudoRandom(80, 3));
        changed.append("new tail");
        newContents.insert(it.key(), changed);
    }

    for (auto it = oldContents.cbegin(); it != oldContents.cend(); ++it) {
        const QString patchName =
            QString(it.key()).replace(QStringLiteral(".dll"), QStringLiteral(".patch"));
        const QString newPath = stagingDir + QStringLiteral("/new/") + it.key();
        if (!writeFile(installPath + QLatin1Char('/') + it.key(), it.value()) ||
            !writeFile(newPath, newContents.value(it.key())) ||
            !writeFile(stagingDir + QStringLiteral("/replace/") + it.key(),
                       newContents.value(it.key())) ||
            !QDir().mkpath(
                QFileInfo(stagingDir + QStringLiteral("/partial/") + patchName).path()) ||
            !run(QStringLiteral("bsdiff"),
                 {installPath + QLatin1Char('/') + it.key(), newPath,
                  stagingDir + QStringLiteral("/partial/") + patchName},
                 stagingDir))
            return false;
    }

    installer = std::make_unique<RecordingTool>(stagingDir, QStringLiteral("setup.dmg"), root);
    trellim = std::make_unique<RecordingTool>(installPath, QStringLiteral("Trellim.exe"), root);
    newUpdater = std::make_unique<RecordingTool>(stagingDir + QStringLiteral("/fix"),
                                                 QStringLiteral("update.exe"), root);
    return makePacket(QStringLiteral("partial"), {QStringLiteral("partial")}) &&
           makePacket(QStringLiteral("replace"), {QStringLiteral("replace")}) &&
           makePacket(QStringLiteral("fix"), {QStringLiteral("fix")});
}

bool ControlTestFixture::run(const QString &program, const QStringList &arguments,
                             const QString &directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        errorMessage =
            QStringLiteral("%1 failed: %2 %3")
                .arg(program, process.errorString(), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool ControlTestFixture::writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size()) {
        errorMessage = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

bool ControlTestFixture::makePacket(const QString &name, const QStringList &members)
{
    // The update server names its packets with a four-character extension.
    const QString archive = name + QStringLiteral(".pak");
    QFile::remove(stagingDir + QLatin1Char('/') + archive);
    return run(QStringLiteral("7zz"),
               QStringList{QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-bd"),
                           QStringLiteral("-y"), archive} +
                   members,
               stagingDir);
}

bool ControlTestFixture::startServer(bool nginx)
{
    if (nginx) {
        nginxServer = std::make_unique<NginxServer>(wwwDir);
        accessLogPath = root + QStringLiteral("/access.log");
        nginxServer->setExtraServerConfig("access_log \"" + QFile::encodeName(accessLogPath) +
                                          "\";");
        if (!nginxServer->start()) {
            errorMessage = nginxServer->errorString();
            return false;
        }
    } else {
        httpServer = std::make_unique<TestHttpServer>();
        if (!httpServer->isListening()) {
            errorMessage = QStringLiteral("the test server does not listen");
            return false;
        }
    }
    for (const char *name : {"partial.pak", "replace.pak", "fix.pak", "setup.dmg"})
        publish(QLatin1String(name), packet(QLatin1String(name)));
    return isValid();
}

QString ControlTestFixture::url(const QString &name) const
{
    const QString target = QLatin1Char('/') + name;
    return (nginxServer ? nginxServer->url(target) : httpServer->url(target)).toString();
}

QByteArray ControlTestFixture::publish(const QString &name, const QByteArray &content)
{
    if (nginxServer)
        writeFile(wwwDir + QLatin1Char('/') + name, content);
    else
        httpServer->serve(QLatin1Char('/') + name, content);
    publishedSha256.insert(url(name),
                           QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    publishedSizes.insert(url(name), content.size());
    return md5Of(content);
}

bool ControlTestFixture::publishSparse(const QString &name, qint64 size)
{
    QFile file((nginxServer ? wwwDir : root) + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        return false;
    if (httpServer)
        httpServer->serveFile(QLatin1Char('/') + name, file.fileName());
    return true;
}

namespace {
struct KeyPair
{
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
};

KeyPair keyPair(ControlTestFixture::SigningKey key)
{
    // 32 bytes each: the seeds of the two keys.
    static const char *const seeds[] = {"velmora test signing key seed 01",
                                        "velmora other signing key seed02"};
    KeyPair pair;
    if (sodium_init() >= 0)
        crypto_sign_seed_keypair(pair.publicKey, pair.secretKey,
                                 reinterpret_cast<const unsigned char *>(seeds[key]));
    return pair;
}
} // namespace

QString ControlTestFixture::publicKey(SigningKey key)
{
    const KeyPair pair = keyPair(key);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(pair.publicKey), sizeof pair.publicKey).toHex());
}

ReleaseStatement ControlTestFixture::statement(const QByteArray &document) const
{
    ReleaseStatement statement;
    statement.product = ReleaseStatement::productName();
    statement.channel = QStringLiteral("update.json");
    statement.version = QStringLiteral("2.0");
    statement.signedAt = QDateTime::currentDateTimeUtc();
    statement.configurationSha256 =
        QCryptographicHash::hash(document, QCryptographicHash::Sha256).toHex();
    statement.files = publishedSha256;
    statement.sizes = publishedSizes;
    return statement;
}

QByteArray ControlTestFixture::signatureFile(const ReleaseStatement &statement, SigningKey key)
{
    const KeyPair pair = keyPair(key);
    const QByteArray text = statement.toJson();
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(text.constData()),
                         quint64(text.size()), pair.secretKey);
    return ConfigSignature::signatureFile(text, signature);
}

bool ControlTestFixture::publishConfig(const Config &config)
{
    publish(QStringLiteral("update.json"), config.toJson());
    return isValid();
}

QByteArray ControlTestFixture::publishPartialCarryingReplace()
{
    if (!makePacket(QStringLiteral("partial"),
                    {QStringLiteral("partial"), QStringLiteral("replace.pak")}))
        return QByteArray();
    return publish(QStringLiteral("partial.pak"), packet(QStringLiteral("partial.pak")));
}

QByteArray ControlTestFixture::publishPartialAs(const QString &fileName)
{
    const QString folder = QFileInfo(fileName).completeBaseName();
    QFile::remove(stagingDir + QLatin1Char('/') + fileName);
    if (!run(QStringLiteral("cp"), {QStringLiteral("-R"), QStringLiteral("partial"), folder},
             stagingDir) ||
        !run(QStringLiteral("7zz"),
             {QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-bd"), fileName, folder},
             stagingDir))
        return QByteArray();
    QFile packet(stagingDir + QLatin1Char('/') + fileName);
    return packet.open(QIODevice::ReadOnly) ? publish(fileName, packet.readAll()) : QByteArray();
}

bool ControlTestFixture::installRealSetupProgram(const QString &name)
{
    const QString setupProgram = installPath + QLatin1Char('/') + name;
    QFile::remove(setupProgram);
    return QDir().mkpath(QFileInfo(setupProgram).path()) &&
           QFile::copy(UpdateSandbox::builtProgram(QStringLiteral("Trellim.exe")), setupProgram);
}

QByteArray ControlTestFixture::publishRealSelfUpdatePacket()
{
    const QString folder = stagingDir + QStringLiteral("/real/fix");
    if (!QDir().mkpath(folder) ||
        !QFile::copy(UpdateSandbox::builtProgram(QStringLiteral("update")),
                     folder + QStringLiteral("/update.exe")) ||
        !QFile::copy(UpdateSandbox::builtProgram(QStringLiteral("Trellim.exe")),
                     folder + QStringLiteral("/Trellim.exe")) ||
        !run(QStringLiteral("7zz"),
             {QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-bd"),
              QStringLiteral("-mx1"), QStringLiteral("fix.pak"), QStringLiteral("fix")},
             stagingDir + QStringLiteral("/real")))
        return QByteArray();
    QFile packet(stagingDir + QStringLiteral("/real/fix.pak"));
    return packet.open(QIODevice::ReadOnly) ? publish(QStringLiteral("fix.pak"), packet.readAll())
                                            : QByteArray();
}

int ControlTestFixture::requestCount(const QByteArray &method, const QString &name) const
{
    const QByteArray path = '/' + name.toUtf8();
    int count = 0;
    if (nginxServer) {
        QFile accessLog(accessLogPath);
        if (!accessLog.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray request = '"' + method + ' ' + path + " HTTP/";
        for (const QByteArray &line : accessLog.readAll().split('\n'))
            count += line.contains(request) ? 1 : 0;
        return count;
    }
    for (const TestHttpServer::Request &request : httpServer->requests(QLatin1Char('/') + name))
        count += request.method == method ? 1 : 0;
    return count;
}

ControlTestFixture::Config ControlTestFixture::defaultConfig() const
{
    Config config;
    config.fixUpdatePacketMd5 = md5(QStringLiteral("fix.pak"));
    config.fixUpdatePacketUrl = url(QStringLiteral("fix.pak"));
    config.fixUpdateUesedVersion = QStringList{QStringLiteral("0.9")};
    config.installerMd5 = md5(QStringLiteral("setup.dmg"));
    config.installerUrl = url(QStringLiteral("setup.dmg"));
    config.partialPacketMd5 = md5(QStringLiteral("partial.pak"));
    config.partialPacketUrl = url(QStringLiteral("partial.pak"));
    config.replacePacketMd5 = md5(QStringLiteral("replace.pak"));
    config.replacePacketUrl = url(QStringLiteral("replace.pak"));
    for (auto it = oldContents.cbegin(); it != oldContents.cend(); ++it) {
        PatchEntry entry;
        entry.oldFileMd5 = md5Of(it.value());
        entry.newFileMd5 = md5Of(newContents.value(it.key()));
        entry.filePatch =
            QString(it.key()).replace(QStringLiteral(".dll"), QStringLiteral(".patch"));
        config.modify.insert(it.key(), entry);
    }
    return config;
}

QByteArray ControlTestFixture::packet(const QString &name) const
{
    static const QStringList built{QStringLiteral("partial.pak"), QStringLiteral("replace.pak"),
                                   QStringLiteral("fix.pak"), QStringLiteral("setup.dmg")};
    QFile file(stagingDir + QLatin1Char('/') +
               (built.contains(name) ? name : QStringLiteral("replace.pak")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray ControlTestFixture::md5(const QString &name) const
{
    return md5Of(packet(name));
}

bool ControlTestFixture::placeInWorkFolder(const QString &name, const QByteArray &content)
{
    return writeFile(updateDir + QLatin1Char('/') + name, content);
}

namespace {
QStringList lastArguments(const RecordingTool &tool)
{
    const QList<QStringList> calls = tool.argumentLists();
    return calls.isEmpty() ? QStringList() : calls.last();
}
} // namespace

QStringList ControlTestFixture::installerArguments() const
{
    return lastArguments(*installer);
}

QStringList ControlTestFixture::trellimArguments() const
{
    return lastArguments(*trellim);
}

QStringList ControlTestFixture::selfUpdateArguments() const
{
    return lastArguments(*newUpdater);
}

QMap<QString, QByteArray> ControlTestFixture::filesUnder(const QString &folder) const
{
    QMap<QString, QByteArray> files;
    for (auto it = newContents.cbegin(); it != newContents.cend(); ++it) {
        QFile file(folder + QLatin1Char('/') + it.key());
        files.insert(it.key(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

QStringList ControlTestFixture::log()
{
    return LogCapture::lines();
}
