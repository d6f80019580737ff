#include "package/extractcallback.h"

#include "package/extractcallbackimpl.h"

namespace Lib7z {

ExtractCallback::ExtractCallback() : m_impl(new ExtractCallbackImpl(this)), m_implReference(m_impl)
{}

ExtractCallback::~ExtractCallback() = default;

bool ExtractCallback::approveFile(const QString &)
{
    return true;
}

void ExtractCallback::fileStarted(const QString &) {}

HRESULT ExtractCallback::progressUpdated(quint64, quint64)
{
    return S_OK;
}

} // namespace Lib7z
