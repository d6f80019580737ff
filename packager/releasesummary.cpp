#include "packager/summarytable.h"

#include <QLocale>

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
            file.replaceBytes > 0
                ? QString::number(100.0 * double(file.bytes) / double(file.replaceBytes), 'f', 1) +
                      QStringLiteral(" %")
                : QStringLiteral("-");
        table += line(file.name, QString::number(file.files), numbers.toString(file.bytes), ratio,
                      QString::number(double(file.milliseconds) / 1000.0, 'f', 2) +
                          QStringLiteral(" s"));
    }
    return table;
}
