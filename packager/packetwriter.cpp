#include "packetwriter.h"

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/UI/Common/LoadCodecs.h"
#include "packetupdatecallback.h"
#include "qfileoutstream.h"

#include <QFile>

bool PacketWriter::write(const QString &path, const QVector<PacketItem> &items)
{
    m_errorString.clear();
    CCodecs *codecs = new CCodecs;
    const CMyComPtr<IUnknown> codecsReference = codecs;
    CMyComPtr<IOutArchive> archive;
    const int format =
        codecs->Load() == S_OK ? codecs->FindFormatForArchiveType(UString(L"7z")) : -1;
    if (format < 0 || codecs->CreateOutArchive(unsigned(format), archive) != S_OK || !archive) {
        m_errorString = QStringLiteral("this build has no 7z writer");
        return false;
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_errorString = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    auto callbackObject = new PacketUpdateCallback(items);
    const CMyComPtr<IArchiveUpdateCallback> callback = callbackObject;
    const CMyComPtr<ISequentialOutStream> stream = new QFileOutStream(&file);
    const HRESULT result = archive->UpdateItems(stream, UInt32(items.size()), callback);
    const bool flushed = file.flush();
    file.close();
    if (result == S_OK && flushed && file.error() == QFileDevice::NoError)
        return true;

    if (!callbackObject->errorString().isEmpty())
        m_errorString = callbackObject->errorString();
    else if (file.error() != QFileDevice::NoError || !flushed)
        m_errorString = path + QStringLiteral(": ") + file.errorString();
    else
        m_errorString = path + QStringLiteral(": the 7z writer failed (0x%1)")
                                   .arg(quint32(result), 8, 16, QLatin1Char('0'));
    file.remove();
    return false;
}
