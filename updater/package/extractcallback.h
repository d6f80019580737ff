#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

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
    // Told of progress in bytes of the archive read so far; false stops the extraction.
    virtual bool progressUpdated(quint64 completed, quint64 total);

    ExtractCallbackImpl *impl() const { return m_impl.get(); }

private:
    Q_DISABLE_COPY(ExtractCallback)

    std::unique_ptr<ExtractCallbackImpl> m_impl;
};

} // namespace Lib7z
