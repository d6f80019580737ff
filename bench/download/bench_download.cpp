// Downloads one URL into one file with the updater's download coordinator and
// prints the wall time and the resident memory before and at the peak of the
// download, for bench/download/run to compare with other download tools.
//
//     bench_download <url> <target file> [ranges]
#include "download/downloadcontrol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <sys/resource.h>

namespace {

// Peak resident size of this process so far, in KiB.
long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Current resident size, in KiB, from /proc/self/status.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QTextStream out(stdout);
    if (arguments.size() < 3) {
        out << "usage: bench_download <url> <target file> [ranges]\n";
        return 2;
    }
    const int ranges = arguments.size() > 3 ? arguments.at(3).toInt() : 6;
    // Debug lines would cost time and hide the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    DownloadControl control;
    int exitCode = 1;
    QObject::connect(&control, &DownloadControl::finished, &app, [&] {
        exitCode = 0;
        app.quit();
    });
    QObject::connect(&control, &DownloadControl::error, &app, [&](const QString &text) {
        out << "error: " << text << '\n';
        app.quit();
    });
    QObject::connect(&control, &DownloadControl::getFileSizeErrorSignal, &app,
                     [&](const QString &text) { out << "size query error: " << text << '\n'; });

    const long idle = residentKiB();
    QElapsedTimer clock;
    clock.start();
    if (!control.downloadFile(arguments.at(1), arguments.at(2), ranges))
        return 1;
    app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    out << "seconds " << QString::number(seconds, 'f', 3) << " idle_kib " << idle << " peak_kib "
        << peakResidentKiB() << '\n';
    return exitCode;
}
