#include "download/resumerecord.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>

namespace {

// A record is a few hundred bytes; anything much larger is not one.
const qint64 largestRecord = 64 * 1024;
// Splitting a missing span finer than this gains nothing.
const qint64 smallestSplit = 256 * 1024;

} // namespace

QString ResumeRecord::recordPath(const QString &filePath)
{
    return filePath + QStringLiteral(".download");
}

ResumeRecord ResumeRecord::read(const QString &filePath)
{
    ResumeRecord record;
    QFile file(recordPath(filePath));
    if (!file.open(QIODevice::ReadOnly) || file.size() > largestRecord)
        return record;
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    const qint64 size = qint64(json.value(QStringLiteral("size")).toDouble(-1));
    for (const QJsonValue &value : json.value(QStringLiteral("spans")).toArray()) {
        const QJsonArray pair = value.toArray();
        const qint64 first = qint64(pair.at(0).toDouble(-1));
        const qint64 end = qint64(pair.at(1).toDouble(-1));
        if (pair.size() != 2 || first < 0 || end > size || first >= end)
            return ResumeRecord();
        record.addSpan({first, end});
    }
    record.url = json.value(QStringLiteral("url")).toString();
    record.size = size;
    record.etag = json.value(QStringLiteral("etag")).toString().toLatin1();
    record.lastModified = json.value(QStringLiteral("lastModified")).toString().toLatin1();
    return record;
}

bool ResumeRecord::write(const QString &filePath) const
{
    QJsonArray spanList;
    for (const Span &span : spans)
        spanList.append(QJsonArray{double(span.first), double(span.second)});
    const QJsonObject json{{QStringLiteral("url"), url},
                           {QStringLiteral("size"), double(size)},
                           {QStringLiteral("etag"), QString::fromLatin1(etag)},
                           {QStringLiteral("lastModified"), QString::fromLatin1(lastModified)},
                           {QStringLiteral("spans"), spanList}};
    // Replaced whole, so that a cut in the middle leaves the previous record.
    QSaveFile file(recordPath(filePath));
    return file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(json).toJson(QJsonDocument::Compact)) >= 0 && file.commit();
}

void ResumeRecord::discard(const QString &filePath)
{
    QFile::remove(recordPath(filePath));
    QFile::remove(filePath);
}

bool ResumeRecord::describesSameFile(const ResumeRecord &other) const
{
    return url == other.url && size == other.size && etag == other.etag &&
           lastModified == other.lastModified;
}

void ResumeRecord::addSpan(const Span &span)
{
    if (span.first >= span.second)
        return;
    spans.append(span);
    std::sort(spans.begin(), spans.end());
    QVector<Span> merged;
    for (const Span &next : qAsConst(spans)) {
        if (!merged.isEmpty() && next.first <= merged.last().second)
            merged.last().second = qMax(merged.last().second, next.second);
        else
            merged.append(next);
    }
    spans = merged;
}

qint64 ResumeRecord::bytesDone() const
{
    qint64 done = 0;
    for (const Span &span : spans)
        done += span.second - span.first;
    return done;
}

QVector<ResumeRecord::Span> ResumeRecord::missingSpans(int limit) const
{
    QVector<Span> missing;
    qint64 position = 0;
    for (const Span &span : spans) {
        if (span.first > position)
            missing.append({position, span.first});
        position = span.second;
    }
    if (position < size)
        missing.append({position, size});
    if (missing.isEmpty() || limit < 1)
        return missing;

    while (missing.size() > limit) {
        int closest = 0;
        for (int i = 1; i + 1 < missing.size(); ++i) {
            if (missing[i + 1].first - missing[i].second <
                missing[closest + 1].first - missing[closest].second)
                closest = i;
        }
        missing[closest].second = missing[closest + 1].second;
        missing.remove(closest + 1);
    }
    while (missing.size() < limit) {
        const auto longest =
            std::max_element(missing.begin(), missing.end(), [](const Span &a, const Span &b) {
                return a.second - a.first < b.second - b.first;
            });
        const qint64 length = longest->second - longest->first;
        if (length < 2 * smallestSplit)
            break;
        const Span second{longest->first + length / 2, longest->second};
        longest->second = second.first;
        missing.insert(longest + 1, second);
    }
    return missing;
}
