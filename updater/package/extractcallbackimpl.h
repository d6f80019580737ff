#pragma once

#include <QCoreApplication>
#include <QString>
#include <memory>

struct archive;
struct archive_entry;

namespace Lib7z {

class DirectoryGuard;
class ExtractCallback;
class OpenArchiveInfo;
class QIODeviceSequentialOutStream;

// The per-item work of an extraction: for each entry of the archive, in the
// archive's order, the output is prepared (getStream), the data is written,
// and times and permissions are put on the result (setOperationResult).
class ExtractCallbackImpl
{
    Q_DECLARE_TR_FUNCTIONS(ExtractCallbackImpl)

public:
    explicit ExtractCallbackImpl(ExtractCallback *callback);
    ~ExtractCallbackImpl();

    void setTargetDirectory(const QString &directory) { m_targetDirectory = directory; }
    // Unpacks every item of the opened archive; false at the first item that fails.
    bool extractAll(OpenArchiveInfo *info);

private:
    Q_DISABLE_COPY(ExtractCallbackImpl)

    void setTotal(quint64 total) { m_total = total; }
    bool setCompleted(quint64 completed);
    bool getStream(quint32 index, archive_entry *entry,
                   std::unique_ptr<QIODeviceSequentialOutStream> *stream);
    bool writeData(QIODeviceSequentialOutStream *stream);
    bool setOperationResult(archive_entry *entry);
    // The absolute path of an item path below the target directory.
    QString itemFile(const QString &path) const;

    ExtractCallback *m_callback;
    quint32 m_currentIndex = 0;
    archive *m_arc = nullptr;
    quint64 m_total = 0;
    quint64 m_completed = 0;
    QString m_targetDirectory;
    QString m_currentFile;
    std::unique_ptr<DirectoryGuard> m_itemFolder;
};

} // namespace Lib7z
