#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/Archive/IArchive.h"
#include "CPP/Common/MyCom.h"
#include "package/archiveitem.h"
#include "package/lib7z.h"

#include <QString>
#include <QVector>

namespace Lib7z {

// What the 7z writer asks while it makes an archive: the items' properties and
// their bytes. Files are opened when the writer asks for them, also for the
// look at their first bytes with which it picks a filter for programs.
class UpdateCallbackImpl final : public IArchiveUpdateCallback,
                                 public IArchiveUpdateCallbackFile,
                                 public CMyUnknownImp
{
    Z7_COM_UNKNOWN_IMP_2(IArchiveUpdateCallback, IArchiveUpdateCallbackFile)

public:
    UpdateCallbackImpl(const QVector<ArchiveItem> &items, const ArchiveProgress &progress);

    Z7_IFACE_COM7_IMP(IProgress)
    Z7_IFACE_COM7_IMP(IArchiveUpdateCallback)
    Z7_IFACE_COM7_IMP(IArchiveUpdateCallbackFile)

    // The first file that could not be opened, if any.
    QString errorString() const { return m_errorString; }

private:
    Z7_CLASS_NO_COPY(UpdateCallbackImpl)

    HRESULT openStream(UInt32 index, ISequentialInStream **stream);

    const QVector<ArchiveItem> m_items;
    const ArchiveProgress m_progress;
    quint64 m_total = 0;
    QString m_errorString;
};

} // namespace Lib7z
