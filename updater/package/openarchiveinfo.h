#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/UI/Common/LoadCodecs.h"
#include "CPP/7zip/UI/Common/OpenArchive.h"
#include "CPP/Common/MyCom.h"

#include <QtGlobal>
#include <memory>

namespace Lib7z {

class OpenArchiveInfoCleaner;

// One opened archive of a device: the codec registry, the formats tried, the
// chain of opened archives (a split archive holds the archive it joins) and
// the streams they read. Several extractions may use one record.
class OpenArchiveInfo
{
public:
    // Creates an empty codec registry; opening the archive fills the rest.
    OpenArchiveInfo();
    ~OpenArchiveInfo();

    CCodecs *codecs;
    CIntVector formatIndices;
    std::unique_ptr<CArchiveLink> archiveLink;
    CMyComPtr<IInStream> inStream;
    // Names the archive and keeps the other volumes of a split archive open.
    CMyComPtr<IArchiveOpenCallback> openCallback;
    OpenArchiveInfoCleaner *cleaner = nullptr;

private:
    Q_DISABLE_COPY(OpenArchiveInfo)

    CMyComPtr<IUnknown> m_codecsReference;
};

} // namespace Lib7z
