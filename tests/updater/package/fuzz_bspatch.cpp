// libFuzzer target: every input is a patch file applied to one fixed old file,
// the old file of the seed patches, named by BSPATCH_FUZZ_OLD.
#include "package/bspatch.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Workspace
{
    QTemporaryDir dir;
    QByteArray oldPath = qgetenv("BSPATCH_FUZZ_OLD");
    QByteArray newPath = QFile::encodeName(dir.filePath(QStringLiteral("new")));
    QByteArray patchPath = QFile::encodeName(dir.filePath(QStringLiteral("patch")));
};

Workspace &workspace()
{
    static Workspace instance;
    return instance;
}

// Every damaged input logs its failure; at fuzzing speed that is only noise.
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(dropMessage);
    if (workspace().oldPath.isEmpty() || !QFile::exists(QFile::decodeName(workspace().oldPath)) ||
        !workspace().dir.isValid()) {
        std::fprintf(stderr, "BSPATCH_FUZZ_OLD must name the old file of the seed patches\n");
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Workspace &space = workspace();
    QFile patch(QFile::decodeName(space.patchPath));
    if (!patch.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        patch.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    patch.close();
    if (bspatchFile(space.oldPath, space.newPath, space.patchPath) == 0)
        QFile::remove(QFile::decodeName(space.newPath));
    return 0;
}
