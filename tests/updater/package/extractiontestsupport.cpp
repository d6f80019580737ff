#include "extractiontestsupport.h"

#include "foldertree.h"
#include "logcapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>

namespace ExtractionTestSupport {

bool run7zz(const QStringList &arguments, const QString &workingDirectory, QString *output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("7zz"), arguments);
    if (!process.waitForFinished(120000))
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString archiveMethods(const QString &archive)
{
    QString listing;
    run7zz({QStringLiteral("l"), QStringLiteral("-slt"), archive}, QDir::currentPath(), &listing);
    QStringList methods;
    const QRegularExpression method(QStringLiteral("^Method = (.+)$"),
                                    QRegularExpression::MultilineOption);
    auto matches = method.globalMatch(listing);
    while (matches.hasNext())
        methods.append(matches.next().captured(1).trimmed());
    return methods.join(QLatin1Char(' '));
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList listTree(const QString &folder)
{
    return FolderTree::read(folder).keys();
}

qint64 modificationTime(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

bool setModificationTime(const QString &path, qint64 nanoseconds)
{
    // Floor division keeps the nanoseconds positive before 1970.
    const qint64 seconds = nanoseconds / 1000000000 - (nanoseconds % 1000000000 < 0 ? 1 : 0);
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {time_t(seconds), long(nanoseconds - seconds * 1000000000)}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

QString capturedLog()
{
    return LogCapture::lines().join(QLatin1Char('\n'));
}

} // namespace ExtractionTestSupport
