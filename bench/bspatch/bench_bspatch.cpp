// Applies a patch between two versions of a 50 MB binary with bspatchFile and
// with Debian's bspatch and prints wall time and peak resident memory of both.
//   bench_bspatch [RUNS]            the benchmark (default 5 runs of each tool)
//   bench_bspatch --apply OLD NEW PATCH   one bspatchFile run, as measured
#include "package/bspatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

namespace {

const qint64 BinarySize = 50 * 1024 * 1024;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

[[noreturn]] void fail(const QString &text)
{
    out() << "bench_bspatch: " << text << Qt::endl;
    std::exit(1);
}

// Real shared libraries of this system laid end to end, so that the data has
// the structure of machine code, tables and strings: the first 50 MB make the
// old version, what follows is code that only the new version contains.
QByteArray libraryData(qint64 size)
{
    QByteArray data;
    data.reserve(int(size));
    const QDir libraries(QStringLiteral("/usr/lib/x86_64-linux-gnu"));
    const QFileInfoList files =
        libraries.entryInfoList({QStringLiteral("*.so*")}, QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        if (data.size() >= size)
            break;
        QFile file(info.filePath());
        if (info.isSymLink() || info.size() > 8 * 1024 * 1024 || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        if (content.startsWith("\x7f"
                               "ELF"))
            data += content;
    }
    if (data.size() < size)
        fail(QStringLiteral("not enough libraries to build a 50 MB binary"));
    data.truncate(int(size));
    return data;
}

// The new version, as a rebuild changes a program: addresses and offsets
// changed on a third of the pages, new code inserted, some code removed.
QByteArray newBinary(const QByteArray &old, const QByteArray &newCode)
{
    QRandomGenerator random(20261207);
    QByteArray data = old;
    for (int page = 0; page + 4096 <= data.size(); page += 4096) {
        if (random.bounded(3) != 0)
            continue;
        for (int words = random.bounded(1, 9); words > 0; --words) {
            const quint32 word = random.generate();
            data.replace(page + random.bounded(4092), 4, reinterpret_cast<const char *>(&word), 4);
        }
    }
    int codeAt = 0;
    for (int i = 0; i < 40; ++i) {
        const int length = random.bounded(4 * 1024, 128 * 1024);
        data.insert(random.bounded(data.size()), newCode.mid(codeAt, length));
        codeAt += length;
    }
    for (int i = 0; i < 20; ++i)
        data.remove(random.bounded(data.size() - 64 * 1024), random.bounded(4 * 1024, 64 * 1024));
    return data;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        fail(QStringLiteral("cannot write ") + path);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString tool(const QString &name)
{
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        fail(name + QStringLiteral(" is not installed"));
    return path;
}

struct Measurement
{
    double seconds = 0;
    double peakMegabytes = 0;
};

// Runs one command under time(1), which reports the child's peak resident set.
Measurement measure(const QString &workDir, const QStringList &command)
{
    const QString report = workDir + QStringLiteral("/time.txt");
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(
        tool(QStringLiteral("time")),
        QStringList{QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), report} +
            command);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        fail(QStringLiteral("failed: ") + command.join(QLatin1Char(' ')));
    Measurement measurement;
    measurement.seconds = timer.nsecsElapsed() / 1e9;
    measurement.peakMegabytes = contentOf(report).trimmed().toDouble() / 1024.0;
    return measurement;
}

int runBenchmark(int runs)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("no temporary directory"));
    const QString oldPath = dir.filePath(QStringLiteral("old"));
    const QString newPath = dir.filePath(QStringLiteral("new"));
    const QString patchPath = dir.filePath(QStringLiteral("patch"));
    const QString referenceOut = dir.filePath(QStringLiteral("out-reference"));
    const QString ourOut = dir.filePath(QStringLiteral("out-bspatchFile"));

    const QByteArray libraries = libraryData(BinarySize + 6 * 1024 * 1024);
    const QByteArray oldContent = libraries.left(int(BinarySize));
    const QByteArray newContent = newBinary(oldContent, libraries.mid(int(BinarySize)));
    writeFile(oldPath, oldContent);
    writeFile(newPath, newContent);
    out() << "making the patch with bsdiff ..." << Qt::endl;
    const Measurement diff =
        measure(dir.path(), {tool(QStringLiteral("bsdiff")), oldPath, newPath, patchPath});

    const QStringList reference{tool(QStringLiteral("bspatch")), oldPath, referenceOut, patchPath};
    const QStringList ours{QCoreApplication::applicationFilePath(), QStringLiteral("--apply"),
                           oldPath, ourOut, patchPath};
    Measurement bestReference{1e9, 0};
    Measurement bestOurs{1e9, 0};
    for (int run = 0; run < runs; ++run) {
        const Measurement r = measure(dir.path(), reference);
        const Measurement o = measure(dir.path(), ours);
        bestReference = {std::min(bestReference.seconds, r.seconds),
                         std::max(bestReference.peakMegabytes, r.peakMegabytes)};
        bestOurs = {std::min(bestOurs.seconds, o.seconds),
                    std::max(bestOurs.peakMegabytes, o.peakMegabytes)};
    }
    if (contentOf(referenceOut) != newContent || contentOf(ourOut) != newContent)
        fail(QStringLiteral("the patched files differ from the new version"));

    const double mb = 1024.0 * 1024.0;
    out() << QString::asprintf("old %.1f MB, new %.1f MB, patch %.2f MB (bsdiff took %.1f s, "
                               "%.0f MB); best wall time and peak RSS of %d runs each\n",
                               oldContent.size() / mb, newContent.size() / mb,
                               QFileInfo(patchPath).size() / mb, diff.seconds, diff.peakMegabytes,
                               runs);
    out() << QString::asprintf("%-16s %10s %15s\n", "", "wall [s]", "peak RSS [MB]");
    out() << QString::asprintf("%-16s %10.3f %15.1f\n", "Debian bspatch", bestReference.seconds,
                               bestReference.peakMegabytes);
    out() << QString::asprintf("%-16s %10.3f %15.1f\n", "bspatchFile", bestOurs.seconds,
                               bestOurs.peakMegabytes);
    out() << QString::asprintf("%-16s %10.3f %15.3f   (goal: at most 1.100 for both)\n", "ratio",
                               bestOurs.seconds / bestReference.seconds,
                               bestOurs.peakMegabytes / bestReference.peakMegabytes);
    out().flush();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && QByteArray(argv[1]) == "--apply")
        return bspatchFile(argv[2], argv[3], argv[4]);
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 5;
    return runBenchmark(std::max(runs, 1));
}
