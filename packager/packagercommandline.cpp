#include "packager/packagercommandline.h"

#include "releasecontract/releasestatement.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QUrl>

namespace {

const char releaseDescription[] =
    "Makes an update release of Velmora: for every old version a partial packet of\n"
    "BSDIFF40 patches and a replace packet of whole files, a self-update packet, a copy\n"
    "of the installer and the update configuration <installer>.json that names them\n"
    "all with their MD5 sums and URLs (base URL + file name). Every old version is\n"
    "brought to the new tree with the updater's own unpacking and patching code before\n"
    "anything appears in the output folder; a release that fails that check is not\n"
    "written.\n"
    "\n"
    "Packets are 7z archives named <kind>-<versions>.pak, each unpacking into the\n"
    "folder of the same name without \".pak\". The self-update packet carries the\n"
    "updater's run-time folder (--updater, holding update.exe and Trellim.exe and\n"
    "what they need); by default this build's update (as update.exe) and Trellim.exe,\n"
    "stripped. A self-update packet of the same files is taken from --cache.\n"
    "With --merge the release classes and old versions of this run replace theirs in\n"
    "the given configuration, the rest of it is kept, and the self-update versions\n"
    "are added to those it lists.\n"
    "\n"
    "With --sign-key the configuration is signed (<installer>.json.sig beside it), for\n"
    "updaters built with the matching public key; a merged configuration is signed\n"
    "again. The signature covers a statement of the product, the configuration's name,\n"
    "the new version (dotted numbers), the signing time, the expiry (--expires-in) and\n"
    "the SHA-256 of the configuration and of every file it names; such updaters refuse\n"
    "a release for another configuration, older than the installed version, expired,\n"
    "or signed before one they accepted. The self-update packet's update.exe must\n"
    "trust the key itself. Make a key pair with: update-packager keygen DIR\n"
    "\n"
    "A changed file goes into the partial packet as its patch when that is smaller\n"
    "than the file packed whole, else whole; when the partial packet would not be\n"
    "smaller than the replace packet, the configuration names the replace packet for\n"
    "both. Refused before any work: a tree that no installation can hold (links,\n"
    "names Windows cannot hold or that are equal but for case, the updater's own\n"
    "top-level folders, a file that becomes a folder or the reverse), each named.\n"
    "\n"
    "Exit codes: 0 published (or checked, with --dry-run), 1 refused or failed\n"
    "(nothing published), 2 bad command line, 128 + the signal when interrupted\n"
    "(the staging folder is removed).";

const char keygenDescription[] =
    "update-packager keygen DIR: makes the Ed25519 key pair that signs update\n"
    "configurations. DIR/signing.key holds the secret key, readable by its owner only;\n"
    "DIR/signing.pub the public key, which is also printed as the CMake setting that\n"
    "builds it into the updater. An existing key is never overwritten. To rotate keys,\n"
    "build updaters that trust the old and the new public key together, then sign\n"
    "with the new one.";

// Versions name packets and folders: plain characters only.
bool isPlainVersion(const QString &version)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._+-]*$"));
    return plain.match(version).hasMatch();
}

QStringList commaList(const QStringList &values)
{
    QStringList items;
    for (const QString &value : values) {
        for (const QString &item : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
            items.append(item.trimmed());
    }
    return items;
}

} // namespace

QString PackagerCommandLine::versionText()
{
    return QStringLiteral("update-packager " UPDATE_PACKAGER_VERSION "\n");
}

QStringList ReleaseOptions::allOsTags()
{
    return {QStringLiteral("xp"), QStringLiteral("win7"), QStringLiteral("mac")};
}

PackagerCommandLine::Outcome PackagerCommandLine::parse(const QStringList &arguments)
{
    // A command other than the release is picked by its name.
    if (arguments.value(1) == QLatin1String("keygen")) {
        m_command = Command::GenerateKey;
        return parseKeygen(arguments.mid(0, 1) + arguments.mid(2));
    }
    m_command = Command::BuildRelease;
    return parseRelease(arguments);
}

PackagerCommandLine::Outcome PackagerCommandLine::parseKeygen(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(keygenDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    parser.addPositionalArgument(QStringLiteral("DIR"),
                                 QStringLiteral("The folder for signing.key and signing.pub."));
    m_helpText = parser.helpText();
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help))
        return Outcome::ShowHelp;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("keygen takes one folder"));
    m_keyFolder = parser.positionalArguments().first();
    return Outcome::Run;
}

PackagerCommandLine::Outcome PackagerCommandLine::fail(const QString &text)
{
    m_errorString = text;
    return Outcome::Invalid;
}

PackagerCommandLine::Outcome PackagerCommandLine::parseRelease(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(releaseDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption newFolder(QStringLiteral("new"),
                                       QStringLiteral("The installation tree of the new version."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption newVersion(QStringLiteral("new-version"),
                                        QStringLiteral("The new version."), QStringLiteral("V"));
    const QCommandLineOption baseUrl(
        QStringLiteral("base-url"),
        QStringLiteral("Where the output folder is published (http://...); the URLs in the "
                       "configuration are this + file name."),
        QStringLiteral("URL"));
    const QCommandLineOption outFolder(
        QStringLiteral("out"),
        QStringLiteral("The output folder; must not exist yet, or be empty."),
        QStringLiteral("DIR"));
    const QCommandLineOption installer(
        QStringLiteral("installer"),
        QStringLiteral("The full installer of the new version (required: the updater falls "
                       "back on it)."),
        QStringLiteral("FILE"));
    const QCommandLineOption oldTree(
        QStringLiteral("old"),
        QStringLiteral("An old version and its installation tree; may be repeated."),
        QStringLiteral("VERSION=DIR"));
    const QCommandLineOption updaterFolder(
        QStringLiteral("updater"),
        QStringLiteral("The updater's run-time folder for the self-update packet: update.exe, "
                       "Trellim.exe and what they need."),
        QStringLiteral("DIR"));
    const QCommandLineOption selfUpdateFor(
        QStringLiteral("self-update-for"),
        QStringLiteral("Old versions that must update the updater first (none by default)."),
        QStringLiteral("V1,V2"));
    const QCommandLineOption osTags(
        QStringLiteral("os"),
        QStringLiteral("The release classes to write (default: xp,win7,mac)."),
        QStringLiteral("xp,win7,mac"));
    const QCommandLineOption merge(
        QStringLiteral("merge"),
        QStringLiteral("An existing configuration to add this release to."),
        QStringLiteral("FILE"));
    const QCommandLineOption signKey(
        QStringLiteral("sign-key"),
        QStringLiteral("The secret key (from keygen) that signs the configuration."),
        QStringLiteral("FILE"));
    const QCommandLineOption expiresIn(
        QStringLiteral("expires-in"),
        QStringLiteral("With --sign-key: updaters refuse the release this many days after "
                       "signing (default: never)."),
        QStringLiteral("DAYS"));
    const QCommandLineOption dereferenceLinks(
        QStringLiteral("dereference-links"),
        QStringLiteral("Pack what the links in the trees point to (links are refused otherwise)."));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("Run every check that needs no packet and write nothing."));
    const QCommandLineOption jobs(QStringLiteral("jobs"),
                                  QStringLiteral("Diffs at once (default: one per core)."),
                                  QStringLiteral("N"));
    const QCommandLineOption memoryBudget(
        QStringLiteral("memory-budget"),
        QStringLiteral("The memory the diffs at once may need together (default: what the "
                       "largest one needs; a diff that needs more runs alone)."),
        QStringLiteral("MB"));
    const QCommandLineOption cache(
        QStringLiteral("cache"),
        QStringLiteral("Where self-update packets are kept for the next release (default: the "
                       "user's cache folder)."),
        QStringLiteral("DIR"));
    const QCommandLineOption summaryJson(
        QStringLiteral("summary-json"),
        QStringLiteral("Also write the summary, or the refusal, as JSON to this file."),
        QStringLiteral("FILE"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version of update-packager."));
    parser.addOptions({help,      version,   newFolder,    newVersion,    baseUrl,
                       outFolder, installer, oldTree,      updaterFolder, selfUpdateFor,
                       osTags,    merge,     signKey,      expiresIn,     dereferenceLinks,
                       dryRun,    jobs,      memoryBudget, cache,         summaryJson});
    m_helpText = parser.helpText();

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help))
        return Outcome::ShowHelp;
    if (parser.isSet(version))
        return Outcome::ShowVersion;
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    const struct
    {
        const QCommandLineOption &option;
        const char *why;
    } required[] = {
        {newFolder, "the tree of the new version"},
        {newVersion, "the version the release brings"},
        {baseUrl, "where the release is published"},
        {outFolder, "where the release is written"},
        {installer, "every configuration names the full installer, which the updater falls back "
                    "on when an old version has no packets"},
    };
    for (const auto &entry : required) {
        if (!parser.isSet(entry.option))
            return fail(QStringLiteral("--%1 is missing: %2")
                            .arg(entry.option.names().constFirst(), QLatin1String(entry.why)));
    }

    ReleaseOptions release;
    release.newFolder = parser.value(newFolder);
    release.newVersion = parser.value(newVersion);
    release.outFolder = parser.value(outFolder);
    release.installer = parser.value(installer);
    release.updaterFolder = parser.value(updaterFolder);
    release.mergeFile = parser.value(merge);
    release.signingKeyFile = parser.value(signKey);
    release.dereferenceLinks = parser.isSet(dereferenceLinks);
    release.dryRun = parser.isSet(dryRun);
    release.cacheFolder = parser.value(cache);
    release.summaryJsonFile = parser.value(summaryJson);
    // A count given must be a whole number of 1 or more (a terabyte at most).
    const auto count = [&parser](const QCommandLineOption &option, qint64 *value) {
        bool isNumber = false;
        const qint64 number = parser.value(option).toLongLong(&isNumber);
        if (!isNumber || number < 1 || number > (qint64(1) << 20))
            return false;
        *value = number;
        return true;
    };
    qint64 jobCount = 0;
    if (parser.isSet(jobs) && !count(jobs, &jobCount))
        return fail(QStringLiteral("--jobs %1: a number of 1 or more").arg(parser.value(jobs)));
    release.jobs = int(jobCount);
    qint64 budgetMegabytes = 0;
    if (parser.isSet(memoryBudget) && !count(memoryBudget, &budgetMegabytes))
        return fail(QStringLiteral("--memory-budget %1: megabytes, 1 or more")
                        .arg(parser.value(memoryBudget)));
    release.memoryBudget = budgetMegabytes << 20;
    if (!isPlainVersion(release.newVersion))
        return fail(
            QStringLiteral("--new-version %1: a version is letters, digits and . _ + - only")
                .arg(release.newVersion));
    int order = 0;
    if (!release.signingKeyFile.isEmpty() &&
        !ReleaseStatement::compareVersions(release.newVersion, release.newVersion, &order))
        return fail(QStringLiteral("--new-version %1: a signed release's version is dotted "
                                   "numbers, which updaters compare with the installed one")
                        .arg(release.newVersion));
    if (parser.isSet(expiresIn)) {
        bool number = false;
        release.expiresInDays = parser.value(expiresIn).toInt(&number);
        if (!number || release.expiresInDays < 1 || release.signingKeyFile.isEmpty())
            return fail(QStringLiteral("--expires-in %1: a number of days of 1 or more, with "
                                       "--sign-key")
                            .arg(parser.value(expiresIn)));
    }

    // The updater fetches over plain HTTP only.
    const QUrl url(parser.value(baseUrl), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() ||
        url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("--base-url %1: the updater fetches http:// URLs only")
                        .arg(parser.value(baseUrl)));
    release.baseUrl = url.toString(QUrl::FullyEncoded);
    if (!release.baseUrl.endsWith(QLatin1Char('/')))
        release.baseUrl += QLatin1Char('/');

    for (const QString &value : parser.values(oldTree)) {
        const int equals = value.indexOf(QLatin1Char('='));
        const ReleaseOptions::OldTree old{value.left(equals), value.mid(equals + 1)};
        if (equals < 0 || old.folder.isEmpty() || !isPlainVersion(old.version))
            return fail(
                QStringLiteral("--old %1: expected VERSION=DIR with a plain version").arg(value));
        if (old.version == release.newVersion)
            return fail(QStringLiteral("--old %1: that is the new version").arg(value));
        for (const ReleaseOptions::OldTree &earlier : qAsConst(release.oldTrees)) {
            if (earlier.version == old.version)
                return fail(QStringLiteral("--old %1: version given twice").arg(old.version));
        }
        release.oldTrees.append(old);
    }

    release.selfUpdateFor = commaList(parser.values(selfUpdateFor));
    release.osTags =
        parser.isSet(osTags) ? commaList(parser.values(osTags)) : ReleaseOptions::allOsTags();
    if (release.osTags.isEmpty())
        return fail(QStringLiteral("--os: no release class given"));
    for (const QString &tag : qAsConst(release.osTags)) {
        if (!ReleaseOptions::allOsTags().contains(tag) || release.osTags.count(tag) > 1)
            return fail(
                QStringLiteral("--os %1: the release classes are xp, win7 and mac, each once")
                    .arg(tag));
    }
    m_release = release;
    return Outcome::Run;
}
