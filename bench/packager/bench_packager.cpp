// The packager's diff of one pair of files, alone in its process, so that
// the process's peak memory is what diffing that pair needs:
//   bench_packager OLD NEW PATCH
// Prints the patch's size and the wall time.
#include "packager/bsdiff.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

QByteArray readAll(const char *path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_packager OLD NEW PATCH\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    QByteArray patch;
    {
        const QByteArray oldData = readAll(argv[1]);
        const QByteArray newData = readAll(argv[2]);
        patch = bsdiff(oldData, newData);
    }
    QFile out(QFile::decodeName(argv[3]));
    if (patch.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(patch) != patch.size()) {
        std::fprintf(stderr, "bench_packager: no patch written\n");
        return 1;
    }
    std::printf("patch %lld bytes in %.2f s\n", static_cast<long long>(patch.size()),
                double(timer.elapsed()) / 1000.0);
    return 0;
}
