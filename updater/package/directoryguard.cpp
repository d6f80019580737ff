#include "package/directoryguard.h"

#include "package/sevenzipexception.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace Lib7z {

DirectoryGuard::DirectoryGuard(const QString &path)
    : m_path(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')))
{}

DirectoryGuard::~DirectoryGuard()
{
    if (!m_created || m_kept)
        return;
    QDir folder(m_path);
    if (!folder.exists() ||
        !folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        return;
    if (!QDir().rmdir(m_path))
        qWarning() << "Could not delete directory " << m_path;
}

QStringList DirectoryGuard::createMissing()
{
    const QFileInfo info(m_path);
    if (m_path.isEmpty() || info.isDir())
        return {};
    if (info.exists())
        throw SevenZipException(tr("Path exists but is not a folder: %1").arg(m_path));

    QStringList missing;
    QString current = m_path;
    while (!current.isEmpty() && !QFileInfo::exists(current)) {
        missing.prepend(current);
        const int slash = current.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        current.truncate(slash);
    }

    m_created = QDir().mkpath(m_path);
    if (!m_created) {
        qDebug() << "Could not create folder" << m_path << qt_error_string();
        throw SevenZipException(tr("Could not create folder: %1").arg(m_path));
    }
    return missing;
}

void DirectoryGuard::keep()
{
    m_kept = true;
}

} // namespace Lib7z
