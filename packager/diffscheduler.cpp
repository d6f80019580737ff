#include "packager/diffscheduler.h"

#include "packager/bsdiff.h"
#include "packager/packetassembler.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>
#include <algorithm>
#include <numeric>

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

bool readFile(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return file.error() == QFileDevice::NoError;
}

void runJob(DiffScheduler::Job &job)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray patch;
    {
        QByteArray oldData;
        QByteArray newData;
        if (!readFile(job.oldPath, &oldData) || !readFile(job.newPath, &newData)) {
            job.error = QStringLiteral("cannot be read");
            return;
        }
        patch = bsdiff(oldData, newData);
    }
    QFile patchFile(job.patchPath);
    if (patch.isEmpty()) {
        job.error = QStringLiteral("no patch could be made (out of memory?)");
        return;
    }
    if (!QDir().mkpath(QFileInfo(job.patchPath).path()) || !patchFile.open(QIODevice::WriteOnly) ||
        patchFile.write(patch) != patch.size() || !patchFile.flush()) {
        job.error = QStringLiteral("the patch cannot be written: ") + patchFile.errorString();
        return;
    }
    job.patchBytes = patch.size();
    patch.clear();
    // Packed whole, a file costs at most a little more than its size.
    job.wholeBytes = job.patchBytes < job.newBytes
                         ? PacketAssembler::wholeFileCost(
                               job.newPath, job.patchPath + QStringLiteral(".probe"), &job.error)
                         : job.newBytes;
    job.milliseconds = timer.elapsed();
}

} // namespace

qint64 DiffScheduler::memoryNeed(const Job &job)
{
    // Old and new data, a 32-bit suffix per old byte, the difference and
    // extra blocks with room to grow and the compressed patch (each at most
    // about the new size), and bzip2's own buffers. Packing the new file
    // whole to weigh it: 7-Zip's encoder at its default level, with a
    // dictionary no larger than the file, needs about twelve times the
    // dictionary.
    const qint64 diff = 5 * job.oldBytes + 4 * job.newBytes + (16 << 20);
    const qint64 dictionary = qMin(job.newBytes, qint64(16) << 20);
    return qMax(diff, 12 * dictionary + (16 << 20));
}

bool DiffScheduler::run(QVector<Job> &jobs)
{
    m_statistics = Statistics();
    m_statistics.files = jobs.size();
    if (jobs.isEmpty())
        return true;
    QVector<int> waiting(jobs.size());
    std::iota(waiting.begin(), waiting.end(), 0);
    std::stable_sort(waiting.begin(), waiting.end(),
                     [&](int a, int b) { return memoryNeed(jobs.at(a)) > memoryNeed(jobs.at(b)); });
    const qint64 totalBytes =
        std::accumulate(jobs.cbegin(), jobs.cend(), qint64(0),
                        [](qint64 sum, const Job &job) { return sum + job.newBytes; });
    m_statistics.threads = m_threads > 0 ? m_threads : QThread::idealThreadCount();
    m_statistics.memoryBudget =
        m_memoryBudget > 0 ? m_memoryBudget : memoryNeed(jobs.at(waiting.first()));
    emit progress(QStringLiteral("diffing: %1 files, %2 MB, on %3 thread(s) within %4 MB")
                      .arg(jobs.size())
                      .arg(megabytes(totalBytes))
                      .arg(m_statistics.threads)
                      .arg(megabytes(m_statistics.memoryBudget)));

    QThreadPool pool;
    pool.setMaxThreadCount(m_statistics.threads);
    QMutex mutex;
    QWaitCondition jobEnded;
    int running = 0;
    qint64 memoryInUse = 0;
    int jobsDone = 0;
    qint64 bytesDone = 0;
    // Each thread touches its own job only.
    Job *const jobData = jobs.data();
    QElapsedTimer timer;
    timer.start();
    QMutexLocker locker(&mutex);
    while (!waiting.isEmpty()) {
        // The largest waiting job that fits beside the running ones; with
        // nothing running, the largest, whatever it needs.
        const auto fits = std::find_if(waiting.begin(), waiting.end(), [&](int index) {
            return running == 0 ||
                   memoryInUse + memoryNeed(jobData[index]) <= m_statistics.memoryBudget;
        });
        if (running >= m_statistics.threads || fits == waiting.end()) {
            jobEnded.wait(&mutex);
            continue;
        }
        const int index = *fits;
        waiting.erase(fits);
        const qint64 need = memoryNeed(jobData[index]);
        ++running;
        memoryInUse += need;
        pool.start([&, index, need] {
            runJob(jobData[index]);
            QMutexLocker jobLocker(&mutex);
            --running;
            memoryInUse -= need;
            ++jobsDone;
            bytesDone += jobData[index].newBytes;
            emit progress(QStringLiteral("diffing: %1 of %2 files, %3 of %4 MB")
                              .arg(jobsDone)
                              .arg(jobs.size())
                              .arg(megabytes(bytesDone), megabytes(totalBytes)));
            jobEnded.wakeAll();
        });
    }
    locker.unlock();
    pool.waitForDone();
    m_statistics.milliseconds = timer.elapsed();

    for (const Job &job : qAsConst(jobs)) {
        if (!job.error.isEmpty()) {
            m_errorString = QStringLiteral("%1 -> %2: %3").arg(job.oldPath, job.newPath, job.error);
            return false;
        }
        m_statistics.workMilliseconds += job.milliseconds;
    }
    return true;
}
