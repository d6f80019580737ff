#include "package/uncompress.h"

#include "package/lib7z.h"

#include <QDebug>
#include <QFile>

Uncompress::Uncompress(QObject *parent) : QObject(parent) {}

void Uncompress::uncompressPacket()
{
    Lib7z::registerArchiveCodecs();
    qDebug() << "uncompress packet" << archivePath << "into" << targetDir;
    bool extracted = false;
    {
        // An unreadable packet is not caught here: opening the archive fails.
        QFile packet(archivePath);
        packet.open(QIODevice::ReadOnly);
        try {
            extracted = Lib7z::extractToDirectory(&packet, targetDir);
        } catch (const Lib7z::SevenZipException &e) {
            qDebug() << "uncompress failed:" << e.message();
        }
        // The packet's destruction drops its cached archive; the receivers of
        // the signal find the packet closed.
    }
    if (extracted) {
        qDebug() << "uncompress succeeded";
        emit UncompressPacketOKSignal();
    } else {
        qDebug() << "uncompress failed";
        emit UncompressPacketFailSignal();
    }
}
