#pragma once

#include <QObject>
#include <QString>
#include <QVector>

// Makes the patches of a release on every core: the largest files first, so
// that all cores stay busy to the end. Blocks until every diff has ended.
class DiffScheduler : public QObject
{
    Q_OBJECT

public:
    struct Job
    {
        QString oldPath;
        QString newPath;
        QString patchPath;
        qint64 bytes = 0;
        // Filled in by the run:
        qint64 milliseconds = 0;
        QString error;
    };

    using QObject::QObject;

    // Runs every job; false when one failed (its `error` says why, and
    // errorString() names it).
    bool run(QVector<Job> &jobs);

    // The run's wall time and the work of all jobs added up.
    qint64 milliseconds() const { return m_milliseconds; }
    qint64 workMilliseconds() const { return m_workMilliseconds; }
    QString errorString() const { return m_errorString; }

signals:
    // After each finished diff, from the thread that made it; the emissions
    // never overlap.
    void progress(const QString &line);

private:
    qint64 m_milliseconds = 0;
    qint64 m_workMilliseconds = 0;
    QString m_errorString;
};
