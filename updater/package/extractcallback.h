#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/Archive/IArchive.h"
#include "CPP/Common/MyCom.h"

#include <QString>
#include <QtGlobal>

namespace Lib7z {

class ExtractCallbackImpl;

// The hooks through which a user of the facade takes part in an extraction.
// The defaults agree to every file and never stop the extraction.
class ExtractCallback
{
public:
    ExtractCallback();
    virtual ~ExtractCallback();

    // Asked before a file is written; false fails the extraction.
    virtual bool approveFile(const QString &path);
    // Told of every folder the extraction creates and of every item it writes.
    virtual void fileStarted(const QString &path);
    // Told of progress in bytes as the library counts them; a status other
    // than S_OK (E_ABORT, say) stops the extraction.
    virtual HRESULT progressUpdated(quint64 completed, quint64 total);

    ExtractCallbackImpl *impl() const { return m_impl; }

private:
    Q_DISABLE_COPY(ExtractCallback)

    // The library counts its references to the implementation; this is ours.
    ExtractCallbackImpl *m_impl;
    CMyComPtr<IArchiveExtractCallback> m_implReference;
};

} // namespace Lib7z
