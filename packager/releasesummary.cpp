#include "packager/releasesummary.h"

#include "packager/packagercommandline.h"

#include <QJsonArray>
#include <QLocale>

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 2) + QStringLiteral(" MB");
}

QString percentOf(qint64 part, qint64 whole)
{
    return QString::number(100.0 * double(part) / double(whole), 'f', 1) + QStringLiteral(" %");
}

} // namespace

QString summaryTable(const QVector<ReleaseBuilder::PublishedFile> &files)
{
    int nameWidth = int(qstrlen("file"));
    for (const ReleaseBuilder::PublishedFile &file : files)
        nameWidth = qMax(nameWidth, file.name.size());
    const QLocale numbers(QLocale::English);
    const auto line = [nameWidth](const QString &name, const QString &count, const QString &bytes,
                                  const QString &ratio, const QString &time) {
        return QStringLiteral("%1  %2  %3  %4  %5\n")
            .arg(name, -nameWidth)
            .arg(count, 6)
            .arg(bytes, 14)
            .arg(ratio, 10)
            .arg(time, 8);
    };
    QString table = line(QStringLiteral("file"), QStringLiteral("files"), QStringLiteral("bytes"),
                         QStringLiteral("/replace"), QStringLiteral("time"));
    for (const ReleaseBuilder::PublishedFile &file : files) {
        const QString ratio =
            file.replaceBytes > 0 ? percentOf(file.bytes, file.replaceBytes) : QStringLiteral("-");
        table += line(file.name, QString::number(file.files), numbers.toString(file.bytes), ratio,
                      QString::number(double(file.milliseconds) / 1000.0, 'f', 2) +
                          QStringLiteral(" s"));
    }
    return table;
}

QString summaryLines(const ReleaseBuilder &builder, bool dryRun)
{
    QString lines;
    for (const ReleaseBuilder::UpdateSummary &update : builder.updateSummaries()) {
        lines += QStringLiteral("from %1: %2 changed file(s)")
                     .arg(update.oldVersion)
                     .arg(update.changed);
        if (!dryRun)
            lines += QStringLiteral(", %1 as patches and %2 whole")
                         .arg(update.patched)
                         .arg(update.whole);
        lines += QStringLiteral(", %1 added, %2 left installed")
                     .arg(update.added)
                     .arg(update.leftInstalled);
        if (dryRun)
            lines += QLatin1Char('\n');
        else if (update.partialName == update.replaceName)
            lines += QStringLiteral("; no patch saves anything, so the replace packet %1 serves "
                                    "as the partial packet too\n")
                         .arg(update.replaceName);
        else
            lines += QStringLiteral("; partial packet %1, %2 of the replace packet\n")
                         .arg(megabytes(update.partialBytes),
                              percentOf(update.partialBytes, update.replaceBytes));
    }
    const ReleaseBuilder::SelfUpdateSummary &selfUpdate = builder.selfUpdateSummary();
    if (!dryRun)
        lines +=
            QStringLiteral("%1: the run-time %2, stripped %3; packet %4%5\n")
                .arg(selfUpdate.name, megabytes(selfUpdate.sourceBytes),
                     megabytes(selfUpdate.strippedBytes), megabytes(selfUpdate.packetBytes),
                     selfUpdate.reused ? QStringLiteral(", reused from the cache") : QString());
    return lines;
}

QJsonObject summaryJson(const ReleaseBuilder &builder, const ReleaseOptions &options, bool built,
                        qint64 milliseconds)
{
    QJsonObject summary{
        {QStringLiteral("tool"), PackagerCommandLine::versionText().trimmed()},
        {QStringLiteral("newVersion"), options.newVersion},
        {QStringLiteral("out"), options.outFolder},
        {QStringLiteral("dryRun"), options.dryRun},
        {QStringLiteral("published"), built && !options.dryRun},
        {QStringLiteral("milliseconds"), milliseconds},
    };
    if (!built) {
        summary.insert(QStringLiteral("error"), builder.errorString());
        return summary;
    }
    QJsonArray updates;
    for (const ReleaseBuilder::UpdateSummary &update : builder.updateSummaries())
        updates.append(QJsonObject{
            {QStringLiteral("oldVersion"), update.oldVersion},
            {QStringLiteral("changed"), update.changed},
            {QStringLiteral("patched"), update.patched},
            {QStringLiteral("whole"), update.whole},
            {QStringLiteral("added"), update.added},
            {QStringLiteral("leftInstalled"), update.leftInstalled},
            {QStringLiteral("partialPacket"), update.partialName},
            {QStringLiteral("replacePacket"), update.replaceName},
            {QStringLiteral("partialBytes"), update.partialBytes},
            {QStringLiteral("replaceBytes"), update.replaceBytes},
        });
    summary.insert(QStringLiteral("updates"), updates);
    if (options.dryRun)
        return summary;

    QJsonArray files;
    for (const ReleaseBuilder::PublishedFile &file : builder.publishedFiles())
        files.append(QJsonObject{{QStringLiteral("name"), file.name},
                                 {QStringLiteral("files"), file.files},
                                 {QStringLiteral("bytes"), file.bytes},
                                 {QStringLiteral("milliseconds"), file.milliseconds}});
    const ReleaseBuilder::SelfUpdateSummary &selfUpdate = builder.selfUpdateSummary();
    summary.insert(QStringLiteral("files"), files);
    summary.insert(QStringLiteral("configurationUrl"), builder.configurationUrl());
    summary.insert(QStringLiteral("selfUpdate"),
                   QJsonObject{{QStringLiteral("packet"), selfUpdate.name},
                               {QStringLiteral("sourceBytes"), selfUpdate.sourceBytes},
                               {QStringLiteral("strippedBytes"), selfUpdate.strippedBytes},
                               {QStringLiteral("packetBytes"), selfUpdate.packetBytes},
                               {QStringLiteral("reused"), selfUpdate.reused}});
    const DiffScheduler::Statistics &diffs = builder.diffStatistics();
    summary.insert(QStringLiteral("diffs"),
                   QJsonObject{{QStringLiteral("files"), diffs.files},
                               {QStringLiteral("milliseconds"), diffs.milliseconds},
                               {QStringLiteral("workMilliseconds"), diffs.workMilliseconds},
                               {QStringLiteral("threads"), diffs.threads},
                               {QStringLiteral("memoryBudgetBytes"), diffs.memoryBudget}});
    summary.insert(QStringLiteral("verificationMilliseconds"), builder.verificationMilliseconds());
    return summary;
}
