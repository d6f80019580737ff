#include "packagertrees.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

namespace PackagerTrees {

QByteArray programBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        // Now and then a stretch of what came before, as code repeats itself.
        if (bytes.size() > 256 && random.bounded(4) == 0) {
            const int from = random.bounded(bytes.size() - 128);
            bytes.append(bytes.mid(from, 64 + random.bounded(64)));
        } else {
            const quint32 word = random.generate();
            bytes.append(reinterpret_cast<const char *>(&word), sizeof word);
        }
    }
    bytes.truncate(size);
    return bytes;
}

QByteArray nextVersion(const QByteArray &bytes, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray next = bytes;
    for (int i = 0; i < 8 && !next.isEmpty(); ++i)
        next[random.bounded(next.size())] = char(random.bounded(256));
    next.insert(next.size() / 2, QByteArray("a region new in this version"));
    return next;
}

bool write(const QString &root, const Tree &tree)
{
    return FolderTree::write(root, tree);
}

Tree read(const QString &root, const QStringList &leftOut)
{
    return FolderTree::read(root, FolderTree::Folders::None, leftOut);
}

Run runPackager(const QStringList &arguments, const QString &interruptAt,
                const std::function<void()> &beforeInterrupt)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"),
                       QStringLiteral(VELMORA_BINARY_DIR "/tests/packager-cache"));
    process.setProcessEnvironment(environment);
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(VELMORA_BINARY_DIR "/bin/update-packager"), arguments);
    Run run;
    QDeadlineTimer deadline(120000);
    while (!interruptAt.isEmpty() && !run.errors.contains(interruptAt) &&
           process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        process.waitForReadyRead(1000);
        run.errors += QString::fromUtf8(process.readAllStandardError());
    }
    if (!interruptAt.isEmpty() && process.state() == QProcess::Running) {
        beforeInterrupt();
        process.terminate();
    }
    if (process.state() != QProcess::NotRunning &&
        !process.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 10000)))) {
        process.kill();
        process.waitForFinished(10000);
        run.errors = QStringLiteral("update-packager did not end: ") + process.errorString();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAllStandardOutput());
    run.errors += QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString md5(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

} // namespace PackagerTrees
