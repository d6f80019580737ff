#pragma once

#include <QObject>
#include <QString>
#include <QVector>

// Makes the patches of a release on several threads, and weighs each patch
// against its new file packed whole. The largest files go first, so that all
// threads stay busy to the end, and a job starts only while the memory the
// running jobs need stays within the budget: the largest files are diffed one
// at a time. Blocks until every job has ended.
class DiffScheduler : public QObject
{
    Q_OBJECT

public:
    struct Job
    {
        QString oldPath;
        QString newPath;
        QString patchPath;
        qint64 oldBytes = 0;
        qint64 newBytes = 0;
        // Filled in by the run:
        qint64 patchBytes = 0;
        // The new file packed whole (see PacketAssembler::wholeFileCost);
        // its plain size when the patch is not smaller than that.
        qint64 wholeBytes = 0;
        qint64 milliseconds = 0;
        QString error;
    };

    // What a run did: how many diffs, its wall time and the work of all
    // jobs added up, and the threads and memory it allowed itself.
    struct Statistics
    {
        int files = 0;
        qint64 milliseconds = 0;
        qint64 workMilliseconds = 0;
        int threads = 0;
        qint64 memoryBudget = 0;
    };

    using QObject::QObject;

    // At most `threads` jobs at once; 0 or less: one per core.
    void setThreads(int threads) { m_threads = threads; }
    // The memory the running jobs may need together; 0: what the largest job
    // needs. A job that needs more than the budget runs alone.
    void setMemoryBudget(qint64 bytes) { m_memoryBudget = bytes; }

    // Runs every job; false when one failed (its `error` says why, and
    // errorString() names it).
    bool run(QVector<Job> &jobs);

    // What one job holds in memory at its peak: both files, the suffix array
    // of the old one, the patch's blocks before and after compression.
    static qint64 memoryNeed(const Job &job);

    const Statistics &statistics() const { return m_statistics; }
    QString errorString() const { return m_errorString; }

signals:
    // When the run starts and after each finished job, from the thread that
    // ran it; the emissions never overlap.
    void progress(const QString &line);

private:
    int m_threads = 0;
    qint64 m_memoryBudget = 0;
    Statistics m_statistics;
    QString m_errorString;
};
