#include "releasecontract/releaselayout.h"

#include <QFileInfo>

QString ReleaseLayout::packetFolderName(const QString &packetFileName)
{
    const QFileInfo packet(packetFileName);
    return packet.completeBaseName().isEmpty() ? packet.fileName() : packet.completeBaseName();
}

QString ReleaseLayout::patchFileName(const QString &path)
{
    return path + QLatin1Char('.') + patchSuffix();
}

bool ReleaseLayout::isPatchFile(const QString &fileName)
{
    return QFileInfo(fileName).suffix() == patchSuffix();
}
