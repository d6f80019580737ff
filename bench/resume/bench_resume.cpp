// What resuming saves. A packet whose six ranges are all cut at 90 % by the
// server, then the next run's download of it by a new coordinator, which
// knows only what the first one recorded on disk; for contrast, the downloads
// of a packet whose sum keeps failing, each afresh as after an MD5 mismatch.
// Prints the bytes each fetched, for bench/resume/run.
//
//     bench_resume <packet> <packet whose sum fails> <restarts>
#include "download/downloadcontrol.h"
#include "download/resumerecord.h"
#include "testhttpserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

// One download by a coordinator of its own, as one run of the updater makes it.
bool download(const QString &url, const QString &target)
{
    DownloadControl control;
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&control, &DownloadControl::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(&control, &DownloadControl::error, &loop, &QEventLoop::quit);
    if (!control.downloadFile(url, target, 6))
        return false;
    loop.exec();
    return finished;
}

// The bytes the server was asked for since its requests were last cleared.
qint64 bytesAsked(const TestHttpServer &server, const QString &path, qint64 size)
{
    qint64 asked = 0;
    for (const TestHttpServer::Request &request : server.requests(path)) {
        const QList<QByteArray> bounds = request.header("Range").mid(6).split('-');
        if (request.method == "GET" && bounds.size() == 2)
            asked += qMin(bounds.at(1).toLongLong(), size - 1) - bounds.at(0).toLongLong() + 1;
    }
    return asked;
}

QByteArray md5(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

QString share(qint64 part, qint64 whole)
{
    return QString::number(100.0 * part / whole, 'f', 1) + QStringLiteral(" %");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4) {
        out << "usage: bench_resume <packet> <packet whose sum fails> <restarts>\n";
        return 2;
    }
    // Debug lines would cost time and hide the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QString packet = arguments.at(1);
    const QString failingPacket = arguments.at(2);
    const int restarts = arguments.at(3).toInt();
    const qint64 size = QFileInfo(packet).size();
    QTemporaryDir work;
    const QString target = work.filePath(QStringLiteral("packet.pak"));

    TestHttpServer server;
    TestHttpServer::Route route;
    route.filePath = packet;
    route.headers = {{"ETag", "\"release-2.0\""}};
    route.dropAfter = size / 6 * 9 / 10;
    server.setRoute(QStringLiteral("/packet.pak"), route);
    const QString url = server.url(QStringLiteral("/packet.pak")).toString();
    if (download(url, target)) {
        out << "the cut download finished\n";
        return 1;
    }
    const qint64 onDisk = ResumeRecord::read(target).bytesDone();

    route.dropAfter = -1;
    server.setRoute(QStringLiteral("/packet.pak"), route);
    server.clearRequests();
    QElapsedTimer clock;
    clock.start();
    if (!download(url, target) || md5(target) != md5(packet)) {
        out << "the resumed download failed or differs\n";
        return 1;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 resumed = bytesAsked(server, QStringLiteral("/packet.pak"), size);

    const qint64 failingSize = QFileInfo(failingPacket).size();
    server.serveFile(QStringLiteral("/failing.pak"), failingPacket);
    const QString failingTarget = work.filePath(QStringLiteral("failing.pak"));
    for (int i = 0; i < restarts; ++i) {
        if (!download(server.url(QStringLiteral("/failing.pak")).toString(), failingTarget))
            return 1;
        // What the controller does when the sum differs.
        DownloadControl::discardPartialFile(failingTarget);
    }
    const qint64 refetched = bytesAsked(server, QStringLiteral("/failing.pak"), failingSize);

    out << "packet " << size << " bytes, every range cut at 90 %: " << onDisk << " bytes ("
        << share(onDisk, size) << ") recorded on disk\n";
    out << "next run fetched " << resumed << " bytes = " << share(resumed, size)
        << " of the packet (goal <= 12 %; missing after the cut " << share(size - onDisk, size)
        << ") in " << QString::number(seconds, 'f', 2) << " s\n";
    out << restarts << " MD5-mismatch restarts of a " << failingSize << "-byte packet fetched "
        << refetched << " bytes = " << share(refetched, failingSize)
        << " of it (each restart afresh, by design)\n";
    return 0;
}
