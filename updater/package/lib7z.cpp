#include "package/lib7z.h"

#include "CPP/7zip/Common/CreateCoder.h"
#include "package/directoryguard.h"
#include "package/extractcallbackimpl.h"
#include "package/openarchiveinfocleaner.h"
#include "package/qfileoutstream.h"
#include "package/qiodeviceinstream.h"
#include "package/updatecallbackimpl.h"
#include "package/volumeopencallback.h"
#include "shared/connectchecked.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

namespace Lib7z {

namespace {

struct ArchiveCache
{
    QMutex mutex;
    QHash<QIODevice *, OpenArchiveInfo *> archives;
    bool registered = false;
};

ArchiveCache &cache()
{
    static ArchiveCache instance;
    return instance;
}

// The texts are marked for translation where they are thrown.
SevenZipException openFailure(const char *text)
{
    return SevenZipException(QCoreApplication::translate("OpenArchiveInfo", text));
}

QString resultText(HRESULT result)
{
    switch (result) {
    case S_FALSE:
        return QStringLiteral("not an archive of a known format");
    case E_ABORT:
        return QStringLiteral("stopped");
    case E_OUTOFMEMORY:
        return QStringLiteral("out of memory");
    case E_NOTIMPL:
        return QStringLiteral("not supported");
    case E_INVALIDARG:
        return QStringLiteral("invalid argument");
    case E_FAIL:
        return QStringLiteral("failed, for the reason logged before");
    default:
        return QStringLiteral("error 0x%1").arg(quint32(result), 8, 16, QLatin1Char('0'));
    }
}

// What the library found wrong with an archive it opened or recognised;
// empty when nothing.
QString archiveProblems(const CArcErrorInfo &info)
{
    static const struct
    {
        UInt32 flag;
        const char *text;
    } flagTexts[] = {
        {kpv_ErrorFlags_IsNotArc, "not an archive"},
        {kpv_ErrorFlags_HeadersError, "headers error"},
        {kpv_ErrorFlags_EncryptedHeadersError, "encrypted headers"},
        {kpv_ErrorFlags_UnavailableStart, "unavailable start"},
        {kpv_ErrorFlags_UnconfirmedStart, "unconfirmed start"},
        {kpv_ErrorFlags_UnexpectedEnd, "unexpected end"},
        {kpv_ErrorFlags_DataAfterEnd, "data after the end"},
        {kpv_ErrorFlags_UnsupportedMethod, "unsupported method"},
        {kpv_ErrorFlags_UnsupportedFeature, "unsupported feature"},
        {kpv_ErrorFlags_DataError, "data error"},
        {kpv_ErrorFlags_CrcError, "CRC error"},
    };
    QStringList problems;
    const UInt32 flags = info.ErrorFlags | info.WarningFlags;
    for (const auto &flagText : flagTexts) {
        if (flags & flagText.flag)
            problems.append(QLatin1String(flagText.text));
    }
    if (info.ThereIsTail)
        problems.append(QStringLiteral("data after the end of the archive"));
    for (const UString *message : {&info.ErrorMessage, &info.WarningMessage}) {
        if (!message->IsEmpty())
            problems.append(QString::fromWCharArray(message->Ptr(), int(message->Len())));
    }
    return problems.join(QStringLiteral(", "));
}

UString toUString(const QString &text)
{
    return UString(text.toStdWString().c_str());
}

OpenArchiveInfo *openArchive(QIODevice *device, bool registered)
{
    auto info = std::make_unique<OpenArchiveInfo>();
    if (!registered || info->codecs->Load() != S_OK)
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not load codecs"));
    if (!info->codecs->FindFormatForArchiveType(UString(), info->formatIndices))
        throw openFailure(
            QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not retrieve default format"));

    if (!device)
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
    const auto volumes = new VolumeOpenCallback(device);
    info->openCallback = volumes;
    info->inStream = new QIODeviceInStream(device);
    // No types: every registered format, by signature and by the file's name.
    CObjectVector<COpenType> types;
    CIntVector excluded;
    CObjectVector<CProperty> properties;
    COpenOptions options;
    options.codecs = info->codecs;
    options.types = &types;
    options.excludedFormats = &excluded;
    options.props = &properties;
    options.stream = info->inStream;
    options.callback = info->openCallback;
    // The single item of a compressed file is named after the file.
    options.filePath = toUString(volumes->fileName());
    info->archiveLink = std::make_unique<CArchiveLink>();
    const HRESULT opened = info->archiveLink->Open(options);
    const CObjectVector<CArc> &chain = info->archiveLink->Arcs;
    if (opened != S_OK && opened != S_FALSE) {
        qDebug() << "Could not open archive:" << resultText(opened);
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
    }
    if (chain.IsEmpty()) {
        const CArcErrorInfo &failure = info->archiveLink->NonOpen_ErrorInfo;
        // A format that took the data for its own but could not read it.
        const bool recognised =
            failure.IsArc_After_NonOpen() ||
            (failure.ErrorFormatIndex >= 0 && !(failure.ErrorFlags & kpv_ErrorFlags_IsNotArc));
        if (!recognised)
            throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "No CArc found"));
        qDebug() << "Could not open archive:" << archiveProblems(failure);
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
    }
    // Volumes whose joined data is no archive would be written out raw as
    // the packet's one item; so would the first volumes of a broken chain.
    const int lastFormat = chain.Back().FormatIndex;
    if (lastFormat >= 0 && info->codecs->Formats[unsigned(lastFormat)].Name.IsEqualTo("Split")) {
        qDebug() << "Could not open archive: the joined volumes hold no archive";
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
    }
    // An archive that opens with warnings is damaged: unpacking it could
    // write a part of the packet as if it were the whole.
    for (unsigned i = 0; i < chain.Size(); ++i) {
        const QString problems = archiveProblems(chain[i].ErrorInfo);
        if (!problems.isEmpty()) {
            qDebug() << "Damaged archive:" << problems;
            throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
        }
    }
    return info.release();
}

// Every format and coder a packet may use; a build that lacks one is broken.
void checkRegistrations()
{
    const char *const formats[] = {"7z", "lzma", "lzma86", "xz", "Split"};
    const char *const coders[] = {"Copy", "LZMA", "LZMA2", "BCJ",   "BCJ2",  "PPC",  "IA64",
                                  "ARM",  "ARMT", "SPARC", "Swap2", "Swap4", "Delta"};
    CCodecs *codecs = new CCodecs;
    CMyComPtr<IUnknown> codecsReference = codecs;
    if (codecs->Load() != S_OK) {
        qDebug() << "Could not load the archive formats";
        return;
    }
    for (const char *format : formats) {
        if (codecs->FindFormatForArchiveType(UString(format)) < 0)
            qDebug() << "Archive format missing from this build:" << format;
    }
    for (const char *coder : coders) {
        CMethodId id = 0;
        UInt32 streams = 0;
        bool filter = false;
        if (FindMethod_Index(EXTERNAL_CODECS_LOC_VARS AString(coder), false, id, streams, filter) <
            0)
            qDebug() << "Archive coder missing from this build:" << coder;
    }
}

} // namespace

void registerArchiveCodecs()
{
    ArchiveCache &archives = cache();
    QMutexLocker locker(&archives.mutex);
    if (archives.registered)
        return;
    // The library registers its formats and coders as the program starts;
    // here they are only checked, once.
    checkRegistrations();
    archives.registered = true;
}

bool extractToDirectory(QIODevice *archive, const QString &directory, ExtractCallback *callback)
{
    std::unique_ptr<ExtractCallback> defaultCallback;
    if (!callback) {
        defaultCallback = std::make_unique<ExtractCallback>();
        callback = defaultCallback.get();
    }
    ExtractCallbackImpl *impl = callback->impl();
    impl->setTargetDirectory(directory);

    DirectoryGuard outputParent(QFileInfo(directory).absolutePath());
    outputParent.createMissing();

    OpenArchiveInfo *info = openArchiveFor(archive);
    // The last archive of the chain holds the items: a split archive's only
    // item is the archive it joins, which is not written itself.
    const CArc &arc = info->archiveLink->Arcs.Back();
    impl->setArc(&arc);
    const HRESULT result = arc.Archive->Extract(nullptr, UInt32(-1), 0, impl);
    if (result != S_OK) {
        impl->abandonCurrentItem();
        qDebug() << "Extraction failed:" << resultText(result);
        return false;
    }
    impl->applyFolderPermissions();
    outputParent.keep();
    return true;
}

OpenArchiveInfo *openArchiveFor(QIODevice *device)
{
    ArchiveCache &archives = cache();
    QMutexLocker locker(&archives.mutex);
    if (OpenArchiveInfo *cached = archives.archives.value(device))
        return cached;

    std::unique_ptr<OpenArchiveInfo> info(openArchive(device, archives.registered));
    info->cleaner = new OpenArchiveInfoCleaner(device);
    info->cleaner->moveToThread(device->thread());
    connectChecked(device, SIGNAL(destroyed(QObject *)), info->cleaner,
                   SLOT(deviceDestroyed(QObject *)));
    archives.archives.insert(device, info.get());
    return info.release();
}

OpenArchiveInfo *takeArchiveFor(QIODevice *device)
{
    ArchiveCache &archives = cache();
    QMutexLocker locker(&archives.mutex);
    return archives.archives.take(device);
}

void createArchive(const QString &path, const QVector<ArchiveItem> &items,
                   const ArchiveProgress &progress)
{
    CCodecs *codecs = new CCodecs;
    const CMyComPtr<IUnknown> codecsReference = codecs;
    CMyComPtr<IOutArchive> archive;
    const int format =
        codecs->Load() == S_OK ? codecs->FindFormatForArchiveType(UString(L"7z")) : -1;
    if (format < 0 || codecs->CreateOutArchive(unsigned(format), archive) != S_OK || !archive)
        throw SevenZipException(QStringLiteral("this build has no 7z writer"));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw SevenZipException(path + QStringLiteral(": ") + file.errorString());
    auto callbackObject = new UpdateCallbackImpl(items, progress);
    const CMyComPtr<IArchiveUpdateCallback> callback = callbackObject;
    const CMyComPtr<ISequentialOutStream> stream = new QFileOutStream(&file);
    const HRESULT result = archive->UpdateItems(stream, UInt32(items.size()), callback);
    const bool flushed = file.flush();
    file.close();
    if (result == S_OK && flushed && file.error() == QFileDevice::NoError)
        return;

    QString failure;
    if (!callbackObject->errorString().isEmpty())
        failure = callbackObject->errorString();
    else if (file.error() != QFileDevice::NoError || !flushed)
        failure = path + QStringLiteral(": ") + file.errorString();
    else
        failure = path + QStringLiteral(": the 7z writer failed: ") + resultText(result);
    file.remove();
    throw SevenZipException(failure);
}

} // namespace Lib7z
