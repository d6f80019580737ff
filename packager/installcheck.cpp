#include "packager/installcheck.h"

#include "packager/filetree.h"
#include "releasecontract/releaselayout.h"

#include <QHash>
#include <QSet>

namespace {

struct Entry
{
    QString path;
    bool isFolder = false;
};

// Every file and folder of a tree, by path, folders flagged.
QMap<QString, bool> entriesOf(const FileTree &tree)
{
    QMap<QString, bool> entries;
    for (auto it = tree.files().constBegin(); it != tree.files().constEnd(); ++it)
        entries.insert(it.key(), false);
    for (const QString &folder : tree.folders())
        entries.insert(folder, true);
    return entries;
}

QString kindOf(bool isFolder)
{
    return isFolder ? QStringLiteral("a folder") : QStringLiteral("a file");
}

// Reports each clash once, at the shallowest path: what lies below a folder
// that clashes clashes as well.
bool belowReported(const QString &key, const QSet<QString> &reported)
{
    for (int slash = key.indexOf(QLatin1Char('/')); slash >= 0;
         slash = key.indexOf(QLatin1Char('/'), slash + 1)) {
        if (reported.contains(key.left(slash)))
            return true;
    }
    return false;
}

} // namespace

QString InstallCheck::nameProblem(const QString &name)
{
    if (!name.isValidUtf16())
        return QStringLiteral("a name that is not valid Unicode");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || QStringLiteral("<>:\"/\\|?*").contains(c))
            return QStringLiteral("holds %1, which Windows does not allow in a name")
                .arg(c.unicode() < 0x20 ? QStringLiteral("a control character")
                                        : QStringLiteral("\"%1\"").arg(c));
    }
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return QStringLiteral("ends in a dot or a blank, which Windows drops from a name");
    // Windows takes such a name, with or without an extension, for a device.
    static const QSet<QString> devices = [] {
        QSet<QString> names{QStringLiteral("con"), QStringLiteral("prn"), QStringLiteral("aux"),
                            QStringLiteral("nul")};
        for (const QString &digit :
             {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
              QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8"),
              QStringLiteral("9"), QStringLiteral("\u00b9"), QStringLiteral("\u00b2"),
              QStringLiteral("\u00b3")})
            names << QStringLiteral("com") + digit << QStringLiteral("lpt") + digit;
        return names;
    }();
    const QString base = name.section(QLatin1Char('.'), 0, 0).trimmed().toLower();
    if (devices.contains(base))
        return QStringLiteral("a device name on Windows");
    return QString();
}

QString InstallCheck::reservedProblem(const QString &topLevelName)
{
    const struct
    {
        QString name;
        const char *why;
    } reserved[] = {
        {ReleaseLayout::backupFolder(), "the updater empties and refills it on every update"},
        {ReleaseLayout::selfUpdateFolder(), "the updater installs its own new version there"},
        {ReleaseLayout::setupJournalFolder(), "the setup program keeps its journal there"},
    };
    for (const auto &folder : reserved) {
        if (topLevelName.compare(folder.name, Qt::CaseInsensitive) == 0)
            return QStringLiteral("a top-level name kept for the updater's own folder %1 (%2)")
                .arg(folder.name, QLatin1String(folder.why));
    }
    return QString();
}

QStringList InstallCheck::nameProblems(const FileTree &tree)
{
    QStringList problems;
    QHash<QString, QString> byCaseBlindName;
    QSet<QString> reported;
    const QMap<QString, bool> entries = entriesOf(tree);
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        const QString &path = it.key();
        const QString name = path.section(QLatin1Char('/'), -1);
        QString problem = nameProblem(name);
        if (problem.isEmpty() && !path.contains(QLatin1Char('/')))
            problem = reservedProblem(name);
        if (!problem.isEmpty())
            problems.append(path + QStringLiteral(": ") + problem);
        const QString key = path.toCaseFolded();
        if (belowReported(key, reported))
            continue;
        const QString other = byCaseBlindName.value(key);
        if (other.isEmpty()) {
            byCaseBlindName.insert(key, path);
            continue;
        }
        problems.append(QStringLiteral("%1: equal but for case to %2, and Windows holds only one "
                                       "of them")
                            .arg(path, other));
        reported.insert(key);
    }
    return problems;
}

QStringList InstallCheck::overlayProblems(const FileTree &installed, const FileTree &brought,
                                          const QString &version)
{
    QHash<QString, Entry> staying;
    const QMap<QString, bool> installedEntries = entriesOf(installed);
    for (auto it = installedEntries.constBegin(); it != installedEntries.constEnd(); ++it)
        staying.insert(it.key().toCaseFolded(), Entry{it.key(), it.value()});

    QStringList problems;
    QSet<QString> reported;
    const QMap<QString, bool> broughtEntries = entriesOf(brought);
    for (auto it = broughtEntries.constBegin(); it != broughtEntries.constEnd(); ++it) {
        const QString key = it.key().toCaseFolded();
        const auto old = staying.constFind(key);
        if (old == staying.constEnd() || belowReported(key, reported) ||
            (old->path == it.key() && old->isFolder == it.value()))
            continue;
        if (old->path == it.key())
            problems.append(QStringLiteral("%1: %2 in %3 and %4 now; the update removes nothing, "
                                           "so the setup program cannot put %4 there")
                                .arg(it.key(), kindOf(old->isFolder), version, kindOf(it.value())));
        else
            problems.append(QStringLiteral("%1: equal but for case to %2 of %3, which stays "
                                           "installed, and Windows holds only one of them")
                                .arg(it.key(), old->path, version));
        reported.insert(key);
    }
    return problems;
}
