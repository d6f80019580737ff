#include "smalldisk.h"

#include <QFile>
#include <QProcess>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

SmallDisk::SmallDisk(const QString &folder) : m_folder(folder)
{
#ifdef Q_OS_WIN
    // No tmpfs to mount: the tests that need one skip.
    m_mounted = false;
#else
    m_mounted =
        geteuid() == 0 &&
        QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           QStringLiteral("size=64k"), QStringLiteral("tmpfs"), folder}) == 0;
#endif
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder});
}

bool SmallDisk::fill(qint64 room) const
{
    QFile filler(m_folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    while (filler.write(QByteArray(4096, 'f')) == 4096) {
    }
    return filler.resize(qMax<qint64>(0, filler.size() - room));
}

bool SmallDisk::makeReadOnly() const
{
    return QProcess::execute(QStringLiteral("mount"),
                             {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_folder}) == 0;
}
