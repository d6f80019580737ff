#pragma once

#include <QObject>
#include <QString>

// Unpacks one packet (a 7z archive) into a directory and tells by one of two
// signals whether that worked. The caller sets both paths before each run.
class Uncompress : public QObject
{
    Q_OBJECT

public:
    explicit Uncompress(QObject *parent = nullptr);

    // Runs one extraction synchronously and emits exactly one of the signals.
    void uncompressPacket();

    QString archivePath;
    QString targetDir;

signals:
    void UncompressPacketFailSignal();
    void UncompressPacketOKSignal();
};
