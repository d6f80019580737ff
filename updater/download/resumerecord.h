#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

// What is known about a partly downloaded file, kept beside it as its name +
// ".download": the URL it came from, the remote size and validators (ETag,
// Last-Modified) of that time, and the byte spans already written. A later
// attempt, in this run or another one, fetches only the missing spans when
// the server still describes the same file.
//
// A span is claimed only after its bytes were written and flushed, so a
// record may claim too little, never too much; a wrong resume is caught by
// the packet's sum like any damaged download.
class ResumeRecord
{
public:
    // [first byte, one past the last byte)
    using Span = QPair<qint64, qint64>;

    QString url;
    qint64 size = -1;
    QByteArray etag;
    QByteArray lastModified;
    QVector<Span> spans; // sorted, merged

    static QString recordPath(const QString &filePath);
    // The record of `filePath`; empty (size -1) when there is none or it
    // cannot be read.
    static ResumeRecord read(const QString &filePath);
    bool write(const QString &filePath) const;
    // Removes the file and its record.
    static void discard(const QString &filePath);

    // True when `other` describes the same remote file.
    bool describesSameFile(const ResumeRecord &other) const;
    void addSpan(const Span &span);
    qint64 bytesDone() const;
    // The spans of [0, size) not yet written, at most `limit` of them: when
    // there are more, the shortest written stretches between them are
    // fetched again, and when there are fewer, the longest are split, so
    // that `limit` connections share the work.
    QVector<Span> missingSpans(int limit) const;
};
