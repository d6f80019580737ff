#pragma once

#include <QCoreApplication>
#include <QIODevice>
#include <QPointer>
#include <QString>

namespace Lib7z {

// Where one extracted item goes: a QIODevice that the stream owns, opened
// write-only, and closed and deleted together with the stream.
class QIODeviceSequentialOutStream
{
    Q_DECLARE_TR_FUNCTIONS(QIODeviceSequentialOutStream)

public:
    explicit QIODeviceSequentialOutStream(QIODevice *device);
    ~QIODeviceSequentialOutStream();

    bool write(const void *data, quint64 size, quint64 *processed);

    bool hasError() const { return !m_errorString.isEmpty(); }
    QString errorString() const { return m_errorString; }

private:
    Q_DISABLE_COPY(QIODeviceSequentialOutStream)

    bool openIfClosed();

    QPointer<QIODevice> m_device;
    QString m_errorString;
};

} // namespace Lib7z
