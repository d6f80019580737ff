#include "lib7z.h"

#include "directoryguard.h"
#include "extractcallbackimpl.h"
#include "openarchiveinfocleaner.h"
#include "qiodeviceinstream.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <archive.h>
#ifndef Q_OS_WIN
#include <locale.h>
#endif
#include <vector>

namespace Lib7z {

namespace {

using SupportFunction = int (*)(archive *);

struct ArchiveCache
{
    QMutex mutex;
    QHash<QIODevice *, OpenArchiveInfo *> archives;
    std::vector<SupportFunction> formats;
};

ArchiveCache &cache()
{
    static ArchiveCache instance;
    return instance;
}

#ifdef Q_OS_WIN
// libarchive hands out wide-character names on Windows: nothing to switch.
class Utf8Names
{
public:
    Utf8Names() {}
};
#else
// libarchive turns the UTF-16 names of 7z items into the character set of the
// C locale, and under the plain "C" locale every non-ASCII name is lost. The
// facade switches the calling thread alone to UTF-8 while it reads names.
class Utf8Names
{
public:
    Utf8Names()
    {
        locale_t base = duplocale(uselocale(locale_t(nullptr)));
        if (!base)
            return;
        m_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
        if (!m_locale) {
            freelocale(base);
            return;
        }
        m_previous = uselocale(m_locale);
    }
    ~Utf8Names()
    {
        if (!m_locale)
            return;
        uselocale(m_previous);
        freelocale(m_locale);
    }

private:
    Q_DISABLE_COPY(Utf8Names)

    locale_t m_locale = locale_t(nullptr);
    locale_t m_previous = locale_t(nullptr);
};
#endif

// The texts are marked for translation where they are thrown.
SevenZipException openFailure(const char *text)
{
    return SevenZipException(QCoreApplication::translate("OpenArchiveInfo", text));
}

void logLibraryError(archive *arc)
{
    qDebug() << "archive error" << QString::fromUtf8(archive_error_string(arc));
}

// All volumes of a split archive, when the device is the first one ("x.001").
QStringList splitVolumes(QIODevice *device)
{
    const auto file = qobject_cast<QFile *>(device);
    if (!file || !file->fileName().endsWith(QLatin1String(".001")))
        return {};
    const QString stem = file->fileName().chopped(3);
    QStringList volumes;
    for (int number = 1; number <= 999; ++number) {
        const QString volume = stem + QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
        if (!QFileInfo(volume).isFile())
            break;
        volumes.append(volume);
    }
    return volumes;
}

int openVolumes(OpenArchiveInfo *info)
{
    std::vector<QByteArray> names;
    for (const QString &volume : qAsConst(info->volumes)) {
        names.push_back(QFile::encodeName(volume));
        info->totalSize += quint64(QFileInfo(volume).size());
    }
    std::vector<const char *> list;
    for (const QByteArray &name : names)
        list.push_back(name.constData());
    list.push_back(nullptr);
    return archive_read_open_filenames(info->arc, list.data(), 256 * 1024);
}

OpenArchiveInfo *openArchive(QIODevice *device, const std::vector<SupportFunction> &formats)
{
    auto info = std::make_unique<OpenArchiveInfo>();
    info->arc = archive_read_new();
    if (!info->arc || formats.empty())
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not load codecs"));
    for (SupportFunction enable : formats) {
        if (enable(info->arc) < ARCHIVE_WARN)
            throw openFailure(
                QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not retrieve default format"));
    }

    info->volumes = splitVolumes(device);
    int opened = ARCHIVE_FATAL;
    if (info->volumes.size() > 1) {
        opened = openVolumes(info.get());
    } else if (device) {
        info->inStream = std::make_unique<QIODeviceInStream>(device);
        info->inStream->attachTo(info->arc);
        info->totalSize = quint64(qMax<qint64>(device->size(), 0));
        opened = archive_read_open1(info->arc);
    }
    if (opened != ARCHIVE_OK) {
        logLibraryError(info->arc);
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
    }

    info->firstStatus = archive_read_next_header(info->arc, &info->firstEntry);
    if (info->firstStatus < ARCHIVE_WARN) {
        logLibraryError(info->arc);
        throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "Could not open archive"));
    }
    if (archive_format(info->arc) == ARCHIVE_FORMAT_RAW) {
        // Plain bytes that no filter decompressed are no archive at all.
        if (archive_filter_count(info->arc) < 2)
            throw openFailure(QT_TRANSLATE_NOOP("OpenArchiveInfo", "No CArc found"));
        if (const auto file = qobject_cast<QFile *>(device))
            info->rawItemName = QFileInfo(file->fileName()).completeBaseName();
    }
    return info.release();
}

} // namespace

void registerArchiveCodecs()
{
    ArchiveCache &archives = cache();
    QMutexLocker locker(&archives.mutex);
    if (!archives.formats.empty())
        return;
    archives.formats = {archive_read_support_format_7zip, archive_read_support_format_raw,
                        archive_read_support_filter_xz, archive_read_support_filter_lzma};
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

    const Utf8Names utf8Names;
    OpenArchiveInfo *info = openArchiveFor(archive);
    const bool extracted = impl->extractAll(info);
    info->spent = true;
    if (extracted)
        outputParent.keep();
    return extracted;
}

OpenArchiveInfo *openArchiveFor(QIODevice *device)
{
    ArchiveCache &archives = cache();
    QMutexLocker locker(&archives.mutex);
    OpenArchiveInfo *cached = archives.archives.value(device);
    if (cached && !cached->spent)
        return cached;

    const Utf8Names utf8Names;
    std::unique_ptr<OpenArchiveInfo> info(openArchive(device, archives.formats));
    if (cached) {
        // A spent record hands its cleaner, already watching the device, on.
        std::swap(info->cleaner, cached->cleaner);
        delete archives.archives.take(device);
    } else {
        info->cleaner = new OpenArchiveInfoCleaner(device);
        info->cleaner->moveToThread(device->thread());
        QObject::connect(device, SIGNAL(destroyed(QObject *)), info->cleaner,
                         SLOT(deviceDestroyed(QObject *)));
    }
    archives.archives.insert(device, info.get());
    return info.release();
}

OpenArchiveInfo *takeArchiveFor(QIODevice *device)
{
    ArchiveCache &archives = cache();
    QMutexLocker locker(&archives.mutex);
    return archives.archives.take(device);
}

} // namespace Lib7z
