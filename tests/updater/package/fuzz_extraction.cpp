// libFuzzer target: arbitrary bytes as a packet for the extraction facade.
// Whatever the bytes, the facade must not crash, and nothing may appear
// outside the target folder.
#include "package/lib7z.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

struct FuzzSetting
{
    FuzzSetting() : application(argc, argv)
    {
        qInstallMessageHandler(dropMessage);
        Lib7z::registerArchiveCodecs();
    }

    int argc = 1;
    char name[16] = "fuzz_extraction";
    char *argv[2] = {name, nullptr};
    QCoreApplication application;
    QTemporaryDir work;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzSetting setting;
    const QString target = setting.work.filePath(QStringLiteral("target/inner"));
    {
        QBuffer packet;
        packet.setData(reinterpret_cast<const char *>(data), int(size));
        packet.open(QIODevice::ReadOnly);
        try {
            Lib7z::extractToDirectory(&packet, target);
        } catch (const Lib7z::SevenZipException &) {
        }
    }
    // The destroyed packet scheduled its archive record's cleaner for deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    const QStringList outside =
        QDir(setting.work.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (!outside.isEmpty() && outside != QStringList{QStringLiteral("target")})
        std::abort();
    const QStringList beside =
        QDir(setting.work.filePath(QStringLiteral("target")))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (!beside.isEmpty() && beside != QStringList{QStringLiteral("inner")})
        std::abort();
    QDir(setting.work.filePath(QStringLiteral("target"))).removeRecursively();
    return 0;
}
