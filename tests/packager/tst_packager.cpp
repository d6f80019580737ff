#include "package/bspatch.h"
#include "packager/releasebuilder.h"
#include "packager/releaseoptions.h"
#include "packagertrees.h"
#include "releasecontract/configsignature.h"
#include "releasecontract/releasestatement.h"
#include "releasecontract/updateconfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace PackagerTrees;

namespace {

const QString baseUrl = QStringLiteral("http://127.0.0.1:8000/release/");

enum class Refusal
{
    MissingInstaller,
    PatchFileShipped,
    SecureBaseUrl,
    OutNotEmpty,
    UpdaterWithoutSetupProgram,
    LinkInTree,
    OutInsideTree,
    SelfUpdateWithoutKeys,
};

int runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

Q_DECLARE_METATYPE(Refusal)

class TestPackager : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString oldDir;
    QString newDir;
    QString outDir;
    QString installer;
    QString updaterDir;
    Tree oldTree;
    Tree newTree;

    QStringList arguments() const
    {
        return {QStringLiteral("--new"),
                newDir,
                QStringLiteral("--new-version"),
                QStringLiteral("2.0"),
                QStringLiteral("--base-url"),
                baseUrl,
                QStringLiteral("--out"),
                outDir,
                QStringLiteral("--installer"),
                installer,
                QStringLiteral("--old"),
                QStringLiteral("1.0=") + oldDir,
                QStringLiteral("--updater"),
                updaterDir,
                QStringLiteral("--self-update-for"),
                QStringLiteral("0.8,0.9")};
    }

    // Nothing of a refused or failed run is left beside the output folder.
    bool leftNothing() const
    {
        const QFileInfo out(outDir);
        return !out.exists() &&
               QDir(out.absolutePath())
                   .entryList({QLatin1Char('.') + out.fileName() + QLatin1Char('*')},
                              QDir::AllEntries | QDir::Hidden)
                   .isEmpty();
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        oldDir = dir.filePath(QStringLiteral("1.0"));
        newDir = dir.filePath(QStringLiteral("2.0"));
        outDir = dir.filePath(QStringLiteral("out"));
        installer = dir.filePath(QStringLiteral("setup.exe"));
        updaterDir = dir.filePath(QStringLiteral("runtime"));
        QDir(dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(dir.path()));

        const QByteArray core = programBytes(60000, 2);
        const QByteArray library = programBytes(20000, 3);
        oldTree = {
            {QStringLiteral("Trellim.exe"), programBytes(30000, 1)},
            {QStringLiteral("bin/core.dll"), core},
            {QStringLiteral("nested/deeper/still/lib.so"), library},
            {QStringLiteral("中文 目录/说明 文件.txt"), QByteArray("旧版本的说明")},
            {QStringLiteral("becomes empty.txt"), QByteArray("something")},
            {QStringLiteral("was empty.dat"), QByteArray()},
            {QStringLiteral("same.txt"), QByteArray("unchanged")},
            {QStringLiteral("gone.txt"), QByteArray("only in 1.0")},
        };
        newTree = oldTree;
        newTree.remove(QStringLiteral("gone.txt"));
        newTree[QStringLiteral("bin/core.dll")] = nextVersion(core, 12);
        newTree[QStringLiteral("nested/deeper/still/lib.so")] = nextVersion(library, 13);
        newTree[QStringLiteral("中文 目录/说明 文件.txt")] =
            QByteArray("新版本的说明, a little longer");
        newTree[QStringLiteral("becomes empty.txt")] = QByteArray();
        newTree[QStringLiteral("was empty.dat")] = programBytes(5000, 4);
        newTree[QStringLiteral("new folder/新 文件.bin")] = programBytes(7000, 5);
        newTree[QStringLiteral("empty.new")] = QByteArray();
        QVERIFY(write(oldDir, oldTree));
        QVERIFY(write(newDir, newTree));
        QVERIFY(write(dir.path(), {{QStringLiteral("setup.exe"), QByteArray("the installer")}}));
        // A small run-time folder keeps the packets quick to make.
        QVERIFY(
            write(updaterDir, {{QStringLiteral("update.exe"), QByteArray("#!/bin/sh\n")},
                               {QStringLiteral("Trellim.exe"), QByteArray("setup")},
                               {QStringLiteral("platforms/libqxcb.so"), programBytes(900, 6)}}));
        QVERIFY(QFile::setPermissions(updaterDir + QStringLiteral("/update.exe"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // One release of small trees, read back the way the updater and the
    // reference tools read it.
    void releaseOfSmallTrees()
    {
        const Run run = runPackager(arguments());
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QVERIFY2(run.errors.contains(QStringLiteral("1 file(s) that 2.0 lacks")) &&
                     run.errors.contains(QStringLiteral("gone.txt")),
                 qPrintable(run.errors));
        QVERIFY(run.output.contains(QStringLiteral("partial-1.0-2.0.pak")));
        QCOMPARE(QDir(outDir).entryList(QDir::Files, QDir::Name),
                 (QStringList{"fixupdate-2.0.pak", "partial-1.0-2.0.pak", "replace-1.0-2.0.pak",
                              "setup.exe", "setup.exe.json"}));
        const auto published = [&](const QString &name) {
            QFile file(outDir + QLatin1Char('/') + name);
            return file.open(QIODevice::ReadOnly) ? md5(file.readAll()).toLatin1() : QByteArray();
        };

        const QStringList changed{"becomes empty.txt", "bin/core.dll", "nested/deeper/still/lib.so",
                                  "was empty.dat", "中文 目录/说明 文件.txt"};
        PatchList patches;
        for (const QString &path : changed)
            patches.insert(path, {md5(oldTree.value(path)).toLatin1(),
                                  md5(newTree.value(path)).toLatin1(), path + ".patch"});
        for (const QString &osTag : ReleaseOptions::allOsTags()) {
            UpdateConfig config;
            config.configPath = outDir + QStringLiteral("/setup.exe.json");
            QVERIFY(config.getInstallerInfo(osTag));
            QVERIFY(config.getFixUpdateInfo(osTag));
            QVERIFY(config.getPartialPacketInfo(osTag, QStringLiteral("1.0")));
            QCOMPARE(config.installerUrl, baseUrl + "setup.exe");
            QCOMPARE(config.installerMd5, published("setup.exe"));
            QCOMPARE(config.fixUpdatePacketUrl, baseUrl + "fixupdate-2.0.pak");
            QCOMPARE(config.fixUpdatePacketMd5, published("fixupdate-2.0.pak"));
            QCOMPARE(config.fixUpdateUesedVersion, (QJsonArray{"0.8", "0.9"}));
            QCOMPARE(config.partialPacketUrl, baseUrl + "partial-1.0-2.0.pak");
            QCOMPARE(config.partialPacketMd5, published("partial-1.0-2.0.pak"));
            QCOMPARE(config.replacePacketUrl, baseUrl + "replace-1.0-2.0.pak");
            QCOMPARE(config.replacePacketMd5, published("replace-1.0-2.0.pak"));
            QCOMPARE(config.modify.keys(), patches.keys());
            for (const QString &path : changed) {
                QCOMPARE(config.modify.value(path).filePatch, patches.value(path).filePatch);
                QCOMPARE(config.modify.value(path).oldFileMd5, patches.value(path).oldFileMd5);
                QCOMPARE(config.modify.value(path).newFileMd5, patches.value(path).newFileMd5);
            }
        }

        const QString unpacked = dir.filePath(QStringLiteral("unpacked"));
        for (const QString &packet :
             QStringList{"partial-1.0-2.0", "replace-1.0-2.0", "fixupdate-2.0"}) {
            const QString path = outDir + QLatin1Char('/') + packet + ".pak";
            QCOMPARE(runTool(QStringLiteral("7zz"), {"t", path}), 0);
            QCOMPARE(runTool(QStringLiteral("7zz"), {"x", "-bd", "-o" + unpacked, path}), 0);
        }
        QCOMPARE(QDir(unpacked).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{"fixupdate-2.0", "partial-1.0-2.0", "replace-1.0-2.0"}));

        // Each patch is byte for byte what Debian's bsdiff makes, and gives
        // the new file through Debian's bspatch and the updater's own applier.
        Tree partial = read(unpacked + QStringLiteral("/partial-1.0-2.0"));
        for (const QString &path : changed) {
            const QString patch = unpacked + "/partial-1.0-2.0/" + path + ".patch";
            // Debian's bsdiff cannot read an empty file.
            if (!oldTree.value(path).isEmpty() && !newTree.value(path).isEmpty()) {
                const QString debianPatch = dir.filePath(QStringLiteral("debian.patch"));
                QCOMPARE(runTool(QStringLiteral("bsdiff"),
                                 {oldDir + '/' + path, newDir + '/' + path, debianPatch}),
                         0);
                QCOMPARE(read(dir.path()).value("debian.patch"), partial.value(path + ".patch"));
            }
            const QString byDebian = dir.filePath(QStringLiteral("by-debian"));
            const QString byUs = dir.filePath(QStringLiteral("by-us"));
            QCOMPARE(runTool(QStringLiteral("bspatch"), {oldDir + '/' + path, byDebian, patch}), 0);
            QCOMPARE(bspatchFile(QFile::encodeName(oldDir + '/' + path), QFile::encodeName(byUs),
                                 QFile::encodeName(patch)),
                     0);
            QCOMPARE(read(dir.path()).value("by-debian"), newTree.value(path));
            QCOMPARE(read(dir.path()).value("by-us"), newTree.value(path));
            QVERIFY(partial.remove(path + ".patch"));
        }
        const Tree added{{"empty.new", newTree.value("empty.new")},
                         {"new folder/新 文件.bin", newTree.value("new folder/新 文件.bin")}};
        QCOMPARE(partial, added);
        Tree whole = added;
        for (const QString &path : changed)
            whole.insert(path, newTree.value(path));
        QCOMPARE(read(unpacked + QStringLiteral("/replace-1.0-2.0")), whole);
        QCOMPARE(read(unpacked + QStringLiteral("/fixupdate-2.0")), read(updaterDir));
    }

    void refusals_data()
    {
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no installer") << Refusal::MissingInstaller << 2
                                      << "--installer is missing: every configuration names the "
                                         "full installer";
        QTest::newRow("a shipped file ending in .patch")
            << Refusal::PatchFileShipped << 1
            << "tools/fix.patch ends in \".patch\", and the updater deletes such files";
        QTest::newRow("an https base URL")
            << Refusal::SecureBaseUrl << 2 << "the updater fetches http:// URLs only";
        QTest::newRow("an output folder with files in it")
            << Refusal::OutNotEmpty << 1 << "exists and is not an empty folder";
        QTest::newRow("a run-time folder without the setup program")
            << Refusal::UpdaterWithoutSetupProgram << 1 << "holds no Trellim.exe at its top level";
        QTest::newRow("a link in the new tree")
            << Refusal::LinkInTree << 1 << "a link, which a packet cannot carry";
        QTest::newRow("an output folder inside the new tree")
            << Refusal::OutInsideTree << 1 << "lies inside";
        QTest::newRow("signing with a self-update updater that trusts no key")
            << Refusal::SelfUpdateWithoutKeys << 1
            << "trusts no key and checks no signature. Installations that update themselves "
               "would run it next";
    }

    // A release that could not work is refused before anything is written.
    void refusals()
    {
        QFETCH(Refusal, refusal);
        QStringList given = arguments();
        switch (refusal) {
        case Refusal::MissingInstaller:
            given.removeAt(given.indexOf(QStringLiteral("--installer")) + 1);
            given.removeAll(QStringLiteral("--installer"));
            break;
        case Refusal::PatchFileShipped:
            QVERIFY(write(newDir, {{QStringLiteral("tools/fix.patch"), QByteArray("data")}}));
            break;
        case Refusal::SecureBaseUrl:
            given[given.indexOf(baseUrl)] = QStringLiteral("https://127.0.0.1/release/");
            break;
        case Refusal::OutNotEmpty:
            QVERIFY(write(outDir, {{QStringLiteral("keep.txt"), QByteArray("earlier")}}));
            break;
        case Refusal::UpdaterWithoutSetupProgram:
            QVERIFY(QFile::remove(updaterDir + QStringLiteral("/Trellim.exe")));
            break;
        case Refusal::OutInsideTree:
            outDir = newDir + QStringLiteral("/release");
            given[given.indexOf(dir.filePath(QStringLiteral("out")))] = outDir;
            break;
        case Refusal::LinkInTree:
            QVERIFY(QFile::link(newDir + QStringLiteral("/same.txt"),
                                newDir + QStringLiteral("/link.txt")));
            break;
        case Refusal::SelfUpdateWithoutKeys:
            QVERIFY(runPackager({QStringLiteral("keygen"), dir.filePath(QStringLiteral("keys"))})
                        .exitCode == 0);
            QVERIFY(write(updaterDir,
                          {{QStringLiteral("update.exe"),
                            QByteArray("#!/bin/sh\n# " VELMORA_TRUSTED_KEYS_RECORD("") "\n")}}));
            given << QStringLiteral("--sign-key")
                  << dir.filePath(QStringLiteral("keys/signing.key"));
            break;
        }
        const Run run = runPackager(given);
        QTEST(run.exitCode, "exitCode");
        QFETCH(QString, message);
        QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
        if (refusal == Refusal::OutNotEmpty)
            QCOMPARE(read(outDir), (Tree{{"keep.txt", "earlier"}}));
        else
            QVERIFY(leftNothing());
    }

    void failedVerificationPublishesNothing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("an old file that is patched") << "bin/core.dll";
        QTest::newRow("an old file that the update leaves alone") << "same.txt";
    }

    // The old tree changes after its packets were made, as when a build
    // still writes into it: the check finds the file, and nothing appears.
    void failedVerificationPublishesNothing()
    {
        QFETCH(QString, file);
        ReleaseOptions options;
        options.newFolder = newDir;
        options.newVersion = QStringLiteral("2.0");
        options.baseUrl = baseUrl;
        options.outFolder = outDir;
        options.installer = installer;
        options.oldTrees = {{QStringLiteral("1.0"), oldDir}};
        options.updaterFolder = updaterDir;
        options.osTags = ReleaseOptions::allOsTags();
        ReleaseBuilder builder(options);
        connect(&builder, &ReleaseBuilder::verificationStarted, this, [&] {
            QVERIFY(write(oldDir, {{file, QByteArray("changed meanwhile")}}));
        });
        QVERIFY(!builder.run());
        QVERIFY2(builder.errorString().startsWith(
                     QStringLiteral("verification failed, nothing was published: ")) &&
                     builder.errorString().contains(file),
                 qPrintable(builder.errorString()));
        QVERIFY(leftNothing());
    }

    // A second release adds its classes and old versions to the first one's
    // configuration and keeps the rest.
    void mergeAddsToConfiguration()
    {
        QStringList first = arguments() + QStringList{"--os", "win7", "--self-update-for", "1.0"};
        const Run firstRun = runPackager(first);
        QVERIFY2(firstRun.exitCode == 0, qPrintable(firstRun.errors));
        const QString firstConfig = dir.filePath(QStringLiteral("first.json"));
        QVERIFY(QFile::rename(outDir + QStringLiteral("/setup.exe.json"), firstConfig));

        QStringList second = arguments();
        second[second.indexOf(QStringLiteral("1.0=") + oldDir)] = QStringLiteral("0.9=") + oldDir;
        second << "--os"
               << "mac,win7"
               << "--merge" << firstConfig;
        const QString secondOut = dir.filePath(QStringLiteral("second"));
        second[second.indexOf(outDir)] = secondOut;
        const Run secondRun = runPackager(second);
        QVERIFY2(secondRun.exitCode == 0, qPrintable(secondRun.errors));
        QVERIFY2(
            secondRun.errors.contains(QStringLiteral("kept from ") + firstConfig +
                                      QStringLiteral(" without checking its packets: win7: 1.0")),
            qPrintable(secondRun.errors));

        const QString merged = secondOut + QStringLiteral("/setup.exe.json");
        const struct
        {
            const char *osTag;
            const char *version;
            const char *partialUrl; // empty: no entry
        } entries[] = {
            {"win7", "1.0", "partial-1.0-2.0-win7.pak"},
            {"win7", "0.9", "partial-0.9-2.0-win7-mac.pak"},
            {"mac", "0.9", "partial-0.9-2.0-win7-mac.pak"},
            {"mac", "1.0", ""},
            {"xp", "0.9", ""},
        };
        for (const auto &entry : entries) {
            UpdateConfig config;
            config.configPath = merged;
            const bool listed = *entry.partialUrl != '\0';
            QCOMPARE(config.getPartialPacketInfo(entry.osTag, entry.version), listed);
            if (listed)
                QCOMPARE(config.partialPacketUrl, baseUrl + entry.partialUrl);
        }
        UpdateConfig win7;
        win7.configPath = merged;
        QVERIFY(win7.getFixUpdateInfo(QStringLiteral("win7")));
        QCOMPARE(win7.fixUpdatePacketUrl, baseUrl + "fixupdate-2.0-win7-mac.pak");
        QCOMPARE(win7.fixUpdateUesedVersion, (QJsonArray{"0.8", "0.9", "1.0"}));
    }

    // A key made by keygen is its owner's alone; a release signed with it
    // carries a signature that the updater's own check accepts, a merged one
    // is signed again, and a signed configuration is never merged into an
    // unsigned one.
    void signedReleases()
    {
        const QString keys = dir.filePath(QStringLiteral("keys"));
        const Run keygen = runPackager({QStringLiteral("keygen"), keys});
        QVERIFY2(keygen.exitCode == 0, qPrintable(keygen.errors));
        const QString secretKey = keys + QStringLiteral("/signing.key");
        const QString publicKey =
            QString::fromLatin1(read(keys).value(QStringLiteral("signing.pub")).trimmed());
        QVERIFY(
            keygen.output.contains(QStringLiteral("-DVELMORA_CONFIG_PUBLIC_KEYS=") + publicKey));
        QCOMPARE(QFile::permissions(secretKey) &
                     (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());
        QCOMPARE(runPackager({QStringLiteral("keygen"), keys}).exitCode, 1);
        QCOMPARE(read(keys).value(QStringLiteral("signing.pub")).trimmed(), publicKey.toLatin1());

        const auto signatureHolds = [&](const QString &configuration, const QByteArray &change) {
            const Tree release = read(QFileInfo(configuration).path());
            const QString name = QFileInfo(configuration).fileName();
            QString reason;
            return ConfigSignature::verify(release.value(name) + change,
                                           release.value(name + QStringLiteral(".sig")), publicKey,
                                           &reason);
        };
        // The self-update packet's updater trusts the key.
        QVERIFY(
            write(updaterDir, {{QStringLiteral("update.exe"),
                                VELMORA_TRUSTED_KEYS_RECORD_START + publicKey.toLatin1() + '>'}}));
        const QStringList signing{QStringLiteral("--sign-key"), secretKey};
        const Run first =
            runPackager(arguments() + QStringList{"--os", "win7", "--expires-in", "30"} + signing);
        QVERIFY2(first.exitCode == 0, qPrintable(first.errors));
        const QString firstConfig = outDir + QStringLiteral("/setup.exe.json");
        QVERIFY(signatureHolds(firstConfig, QByteArray()));
        QVERIFY(!signatureHolds(firstConfig, QByteArray(" ")));

        QStringList second = arguments();
        second[second.indexOf(QStringLiteral("1.0=") + oldDir)] = QStringLiteral("0.9=") + oldDir;
        const QString secondOut = dir.filePath(QStringLiteral("second"));
        second[second.indexOf(outDir)] = secondOut;
        second << "--os"
               << "mac"
               << "--merge" << firstConfig;
        const Run unsignedMerge = runPackager(second);
        QCOMPARE(unsignedMerge.exitCode, 1);
        QVERIFY2(unsignedMerge.errors.contains(QStringLiteral("is signed")),
                 qPrintable(unsignedMerge.errors));
        QVERIFY(!QFileInfo::exists(secondOut));
        const Run signedMerge = runPackager(second + signing);
        QVERIFY2(signedMerge.exitCode == 0, qPrintable(signedMerge.errors));
        QVERIFY(signatureHolds(secondOut + QStringLiteral("/setup.exe.json"), QByteArray()));

        // Each statement names the SHA-256 of every file its configuration
        // names, the kept ones of the first release too, and the expiry.
        Tree files = read(outDir);
        files.insert(read(secondOut));
        for (const QString &out : {outDir, secondOut}) {
            const QString configuration = out + QStringLiteral("/setup.exe.json");
            ReleaseStatement statement;
            QString reason;
            QVERIFY2(ConfigSignature::verifyFiles(configuration,
                                                  configuration + QStringLiteral(".sig"), publicKey,
                                                  &reason, &statement),
                     qPrintable(reason));
            QCOMPARE(statement.expiresAt.isValid(), out == outDir);
            if (out == outDir)
                QCOMPARE(statement.signedAt.daysTo(statement.expiresAt), 30);
            QCOMPARE(statement.files.size(), out == outDir ? 4 : 7);
            for (auto it = statement.files.constBegin(); it != statement.files.constEnd(); ++it)
                QCOMPARE(it.value(),
                         QCryptographicHash::hash(files.value(QUrl(it.key()).fileName()),
                                                  QCryptographicHash::Sha256)
                             .toHex());
        }
    }
};

QTEST_GUILESS_MAIN(TestPackager)
#include "tst_packager.moc"
