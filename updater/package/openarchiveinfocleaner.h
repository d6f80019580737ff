#pragma once

#include <QObject>

class QIODevice;

namespace Lib7z {

// Drops the cached archive of a device when the device is destroyed.
class OpenArchiveInfoCleaner : public QObject
{
    Q_OBJECT

public:
    // The device is only remembered as the key of its record, never used.
    explicit OpenArchiveInfoCleaner(QIODevice *device, QObject *parent = nullptr);

private slots:
    void deviceDestroyed(QObject *device);

private:
    QIODevice *m_device;
};

} // namespace Lib7z
