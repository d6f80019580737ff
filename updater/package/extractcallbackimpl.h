#pragma once

#include "CPP/Common/Common.h"
// 7-Zip's other headers expect its Common.h before them.
#include "CPP/7zip/Archive/IArchive.h"
#include "CPP/Common/MyCom.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QVector>
#include <memory>

class CArc;

namespace Lib7z {

class DirectoryGuard;
class ExtractCallback;
class QIODeviceSequentialOutStream;

// The library's extract callback: for each item the library asks for an
// output stream (GetStream), writes the data, and reports the result
// (SetOperationResult), where times and permissions are put on the file.
class ExtractCallbackImpl final : public IArchiveExtractCallback, public CMyUnknownImp
{
    Q_DECLARE_TR_FUNCTIONS(ExtractCallbackImpl)
    Z7_COM_UNKNOWN_IMP_1(IArchiveExtractCallback)

public:
    explicit ExtractCallbackImpl(ExtractCallback *callback);
    ~ExtractCallbackImpl();

    Z7_IFACE_COM7_IMP(IProgress)
    Z7_IFACE_COM7_IMP(IArchiveExtractCallback)

    void setTargetDirectory(const QString &directory) { m_targetDirectory = directory; }
    // The opened archive whose items the next extract call writes.
    void setArc(const CArc *archive);
    // After an extract call that failed inside the library (a write error, a
    // stop): the item being written goes, with the folder made for it.
    void abandonCurrentItem();
    // Folders get their permissions once their contents are written, so that
    // a read-only folder can still be filled.
    void applyFolderPermissions();

    // What the archive says of an item, as far as the rules below need.
    struct ItemFacts
    {
        QString path; // as stored, with a backslash taken as "/"
        bool isFolder = false;
        bool isAnti = false; // an item that would delete a file
        bool isLink = false; // symbolic or hard
        bool nameless = false;
    };
    // Why an item is not extracted, as the log line says it; empty when it is: a
    // path that leads out of the target folder, a link, a deletion item, a
    // file without a name of its own. `targetFile` is where it would go.
    static QString refusalReason(const ItemFacts &item, const QString &targetFile);

private:
    Z7_CLASS_NO_COPY(ExtractCallbackImpl)

    struct FolderPermissions
    {
        QString path;
        QFile::Permissions permissions;
    };

    bool readItemFacts(UInt32 index, ItemFacts *item) const;
    HRESULT prepareItem(UInt32 index, ISequentialOutStream **outStream);
    HRESULT finishItem(Int32 operationResult);
    HRESULT itemProperty(PROPID property, PROPVARIANT *value) const;
    // Nothing of a failed item stays: the file and the folder made for it go.
    void dropCurrentItem();

    ExtractCallback *m_callback;
    UInt32 m_currentIndex = 0;
    const CArc *m_arc = nullptr;
    UInt64 m_total = 0;
    UInt64 m_completed = 0;
    QString m_targetDirectory;

    // Whether the archive's format stores item names (a compressed file's
    // single item is named after the archive instead).
    bool m_namesStored = false;
    QString m_currentFile;
    bool m_currentIsFolder = false;
    // Whether the item's file was opened here: only then it is removed when
    // the item fails.
    bool m_currentFileCreated = false;
    CMyComPtr<ISequentialOutStream> m_currentStreamReference;
    QIODeviceSequentialOutStream *m_currentStream = nullptr;
    std::unique_ptr<DirectoryGuard> m_currentFolder;
    QVector<FolderPermissions> m_folderPermissions;
};

} // namespace Lib7z
