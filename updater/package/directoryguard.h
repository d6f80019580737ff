#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace Lib7z {

// Creates the missing folders of a path and, unless told to keep them, removes
// the guarded folder again when it is still empty at destruction.
class DirectoryGuard
{
    Q_DECLARE_TR_FUNCTIONS(DirectoryGuard)

public:
    explicit DirectoryGuard(const QString &path);
    ~DirectoryGuard();

    // Returns the folders it created, outermost first. Throws SevenZipException
    // when the path exists as something else or cannot be created.
    QStringList createMissing();
    void keep();

private:
    Q_DISABLE_COPY(DirectoryGuard)

    QString m_path;
    bool m_created = false;
    bool m_kept = false;
};

} // namespace Lib7z
