#include "extractcallback.h"

#include "extractcallbackimpl.h"

namespace Lib7z {

ExtractCallback::ExtractCallback() : m_impl(std::make_unique<ExtractCallbackImpl>(this)) {}

ExtractCallback::~ExtractCallback() = default;

bool ExtractCallback::approveFile(const QString &)
{
    return true;
}

void ExtractCallback::fileStarted(const QString &) {}

bool ExtractCallback::progressUpdated(quint64, quint64)
{
    return true;
}

} // namespace Lib7z
