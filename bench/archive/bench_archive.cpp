// Unpacks one archive with the Lib7z facade and prints the wall time, so that
// the benchmark script can compare it with 7zz.
#include "package/lib7z.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    QTextStream err(stderr);
    if (arguments.size() != 3) {
        err << "usage: bench_archive ARCHIVE TARGET_DIRECTORY\n";
        return 2;
    }
    Lib7z::registerArchiveCodecs();
    QElapsedTimer timer;
    timer.start();
    bool extracted = false;
    {
        QFile archive(arguments.at(1));
        archive.open(QIODevice::ReadOnly);
        try {
            extracted = Lib7z::extractToDirectory(&archive, arguments.at(2));
        } catch (const Lib7z::SevenZipException &e) {
            err << "bench_archive: " << e.message() << "\n";
        }
    }
    QTextStream(stdout) << "facade wall " << timer.elapsed() / 1000.0 << " s\n";
    return extracted ? 0 : 1;
}
