#include "packager/diffscheduler.h"

#include "packager/bsdiff.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QtConcurrent>
#include <algorithm>
#include <numeric>

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

void runDiff(DiffScheduler::Job &job)
{
    QElapsedTimer timer;
    timer.start();
    QFile oldFile(job.oldPath);
    QFile newFile(job.newPath);
    if (!oldFile.open(QIODevice::ReadOnly) || !newFile.open(QIODevice::ReadOnly)) {
        job.error = QStringLiteral("cannot be read");
        return;
    }
    const QByteArray patch = bsdiff(oldFile.readAll(), newFile.readAll());
    QFile patchFile(job.patchPath);
    if (patch.isEmpty())
        job.error = QStringLiteral("no patch could be made (out of memory?)");
    else if (!QDir().mkpath(QFileInfo(job.patchPath).path()) ||
             !patchFile.open(QIODevice::WriteOnly) || patchFile.write(patch) != patch.size() ||
             !patchFile.flush())
        job.error = QStringLiteral("the patch cannot be written: ") + patchFile.errorString();
    job.milliseconds = timer.elapsed();
}

} // namespace

bool DiffScheduler::run(QVector<Job> &jobs)
{
    m_milliseconds = 0;
    m_workMilliseconds = 0;
    if (jobs.isEmpty())
        return true;
    QVector<int> order(jobs.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return jobs.at(a).bytes > jobs.at(b).bytes; });
    const qint64 totalBytes =
        std::accumulate(jobs.cbegin(), jobs.cend(), qint64(0),
                        [](qint64 sum, const Job &job) { return sum + job.bytes; });

    QMutex progressMutex;
    int jobsDone = 0;
    qint64 bytesDone = 0;
    // Each thread touches its own jobs only.
    Job *const jobData = jobs.data();
    QElapsedTimer timer;
    timer.start();
    QtConcurrent::blockingMap(order, [&](int index) {
        runDiff(jobData[index]);
        QMutexLocker locker(&progressMutex);
        ++jobsDone;
        bytesDone += jobData[index].bytes;
        emit progress(QStringLiteral("diffing: %1 of %2 files, %3 of %4 MB")
                          .arg(jobsDone)
                          .arg(jobs.size())
                          .arg(megabytes(bytesDone), megabytes(totalBytes)));
    });
    m_milliseconds = timer.elapsed();

    for (const Job &job : qAsConst(jobs)) {
        if (!job.error.isEmpty()) {
            m_errorString = QStringLiteral("%1 -> %2: %3").arg(job.oldPath, job.newPath, job.error);
            return false;
        }
        m_workMilliseconds += job.milliseconds;
    }
    return true;
}
