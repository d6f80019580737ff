#include "package/openarchiveinfo.h"

#include "package/openarchiveinfocleaner.h"

namespace Lib7z {

OpenArchiveInfo::OpenArchiveInfo() : codecs(new CCodecs), m_codecsReference(codecs) {}

// The opened archives go before the registry and the streams they use.
OpenArchiveInfo::~OpenArchiveInfo()
{
    if (cleaner)
        cleaner->deleteLater();
    archiveLink.reset();
    m_codecsReference.Release();
    inStream.Release();
    openCallback.Release();
}

} // namespace Lib7z
