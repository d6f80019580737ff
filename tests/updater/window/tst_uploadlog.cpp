#include "recordingtool.h"
#include "startup/logsink.h"
#include "testhttpserver.h"
#include "window/updatewidget.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const char uploadTarget[] = "/api/file.api.php?action=putFailedData";

struct FormPart
{
    QList<QByteArray> headers;
    QByteArray body;
};

// Splits a multipart/form-data body at the boundary named in its Content-Type.
QList<FormPart> formParts(const TestHttpServer::Request &request)
{
    const QRegularExpression boundaryPattern(QStringLiteral("boundary=\"?([^\";]+)\"?"));
    const QString boundary =
        boundaryPattern.match(QString::fromLatin1(request.header("Content-Type"))).captured(1);
    if (boundary.isEmpty())
        return {};
    const QByteArray delimiter = "--" + boundary.toLatin1();
    QList<FormPart> parts;
    QList<QByteArray> pieces;
    int from = request.body.indexOf(delimiter);
    while (from >= 0) {
        const int next = request.body.indexOf("\r\n" + delimiter, from + delimiter.size());
        if (next < 0)
            break;
        pieces << request.body.mid(from + delimiter.size() + 2, next - from - delimiter.size() - 2);
        from = next + 2;
    }
    for (const QByteArray &piece : pieces) {
        const int split = piece.indexOf("\r\n\r\n");
        FormPart part;
        part.headers = piece.left(split).split('\n');
        for (QByteArray &header : part.headers)
            header = header.trimmed();
        part.body = piece.mid(split + 4);
        parts << part;
    }
    return parts;
}
} // namespace

class TestUploadLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    TestHttpServer server;
    // A stand-in browser opener that only records what it was asked to open.
    RecordingTool opener{dir.path(), QStringLiteral("xdg-open")};

    QByteArray logContent() const
    {
        QFile file(logDirectory + QLatin1Char('/') + logFileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Points the log at a fresh file holding `content` and gives the window its name.
    void prepareLog(UpdateWidget &window, const QString &name, const QByteArray &content)
    {
        logFileName = name;
        QFile file(logDirectory + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        StartupValues values;
        values.logFileName = name;
        window.setStartupValues(values);
    }

    // Closes the next message box, noting how many uploads had arrived by then.
    void closeNextMessageBox(int *uploadsBeforeBox)
    {
        QTimer::singleShot(50, this, [=] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) {
                closeNextMessageBox(uploadsBeforeBox);
                return;
            }
            *uploadsBeforeBox = server.requests(QStringLiteral("/api/file.api.php")).size();
            box->button(QMessageBox::Ok)->click();
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(server.isListening());
        logDirectory = dir.path();
        qInstallMessageHandler(messageHandler);
        qputenv("VELMORA_UPLOAD_SERVER", server.url(QString()).toString().toUtf8());
        qputenv("VELMORA_HOME_PAGE", "http://127.0.0.1:9/home");
        qputenv("PATH", dir.path().toUtf8() + ':' + qgetenv("PATH"));
    }

    void init()
    {
        server.clearRequests();
        server.respond(QString::fromLatin1(uploadTarget), 200, "{\"code\":0}");
        opener.forgetCalls();
    }

    void request_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("saveName");
        QTest::newRow("latin-1 name")
            << "update_mac_6.1.0_x.log" << QByteArray("update_mac_6.1.0_x.log");
        QTest::newRow("accented name")
            << QStringLiteral("update_José_mac.log") << QByteArray("update_Jos\xe9_mac.log");
        QTest::newRow("chinese name")
            << QStringLiteral("update_王芳_mac.log") << QByteArray("update_??_mac.log");
    }
    void request()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, saveName);
        UpdateWidget window;
        QByteArray earlier("##update##Debug: (2026-01-01 00:00:00.000) earlier\r\n");
        earlier.append(QByteArray(100000, '\x01')).append("\r\n");
        prepareLog(window, fileName, earlier);

        const qint64 before = QDateTime::currentSecsSinceEpoch();
        window.uploadLog();
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        const QList<TestHttpServer::Request> requests = server.requests();
        QCOMPARE(requests.size(), 1);
        const TestHttpServer::Request &upload = requests.first();
        QCOMPARE(upload.method, QByteArray("POST"));
        QCOMPARE(upload.target, QByteArray(uploadTarget));
        QVERIFY(upload.header("Content-Type").startsWith("multipart/form-data; boundary="));

        const QList<FormPart> parts = formParts(upload);
        QCOMPARE(parts.size(), 4);
        const QList<QByteArray> dispositions{
            "Content-Disposition: form-data; name=\"key\"",
            "Content-Disposition: form-data; name=\"timestamp\"",
            "Content-Disposition: form-data; name=\"save_name\"",
            "Content-Disposition: form-data; name=\"save_data\";filename=\"text.txt\""};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(parts.at(i).headers, QList<QByteArray>{dispositions.at(i)});

        const QByteArray timestamp = parts.at(1).body;
        QVERIFY(QRegularExpression(QStringLiteral("^[1-9][0-9]*$"))
                    .match(QString::fromLatin1(timestamp))
                    .hasMatch());
        QVERIFY(timestamp.toLongLong() >= before && timestamp.toLongLong() <= after);
        const QByteArray key =
            QCryptographicHash::hash("5d0c3a9e7f21b64c88a9e0f4b7c3d215" + timestamp,
                                     QCryptographicHash::Md5)
                .toHex();
        QCOMPARE(parts.at(0).body, key);
        QCOMPARE(parts.at(2).body, saveName);

        // The log as sent holds the earlier lines and the upload's own first line.
        const QByteArray sent = parts.at(3).body;
        QVERIFY(sent.startsWith(earlier));
        QVERIFY(sent.mid(earlier.size()).endsWith(" ========upload Log========\r\n"));
        QVERIFY(!sent.mid(earlier.size()).contains("code"));

        const QByteArray log = logContent();
        QCOMPARE(log.left(sent.size()), sent);
        QVERIFY2(log.mid(sent.size()).endsWith(") \"{\\\"code\\\":0}\"\r\n"),
                 log.mid(sent.size()).constData());
    }

    void unreadableLog_data()
    {
        QTest::addColumn<QString>("folder"); // the log directory, under the test's folder
        QTest::addColumn<QString>("fileName");
        QTest::newRow("log moved to a missing desktop") << "no-desktop"
                                                        << "update_mac_6.1.0.log";
        QTest::newRow("user name with a slash") << ""
                                                << "update_a/b_mac_6.1.0.log";
    }
    // A log that cannot be opened still leaves the other three parts to send,
    // with an empty fourth one.
    void unreadableLog()
    {
        QFETCH(QString, folder);
        QFETCH(QString, fileName);
        UpdateWidget window;
        const QString previousDirectory = logDirectory;
        logDirectory = dir.filePath(folder);
        logFileName = fileName;
        StartupValues values;
        values.logFileName = fileName;
        window.setStartupValues(values);
        window.uploadLog();
        logDirectory = previousDirectory;

        const QList<TestHttpServer::Request> requests = server.requests();
        QCOMPARE(requests.size(), 1);
        const QList<FormPart> parts = formParts(requests.first());
        QCOMPARE(parts.size(), 4);
        QCOMPARE(parts.at(0).body.size(), 32);
        QVERIFY(!parts.at(1).body.isEmpty());
        QCOMPARE(parts.at(2).body, fileName.toLatin1());
        QCOMPARE(parts.at(3).headers,
                 QList<QByteArray>{
                     "Content-Disposition: form-data; name=\"save_data\";filename=\"text.txt\""});
        QCOMPARE(parts.at(3).body, QByteArray());
    }

    void silentServerEndsAfterTimeLimit()
    {
        TestHttpServer::Route silent;
        silent.stall = true;
        server.setRoute(QString::fromLatin1(uploadTarget), silent);
        UpdateWidget window;
        window.setUploadTimeout(300);
        prepareLog(window, QStringLiteral("silent.log"), QByteArray());

        QList<int> exitCodes;
        window.setProcessExit([&](int code) { exitCodes << code; });
        int uploadsBeforeBox = -1;
        closeNextMessageBox(&uploadsBeforeBox);
        window.showMessageBox(QStringLiteral("Update error"), true);

        QCOMPARE(uploadsBeforeBox, 1);
        QCOMPARE(exitCodes, QList<int>{-1});
        // An empty answer is logged after the upload's first line.
        const QList<QByteArray> lines = logContent().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).endsWith(" ========upload Log========\r"));
        QVERIFY(lines.at(1).endsWith(") \"\"\r"));
        QCOMPARE(opener.calls(), QStringLiteral("http://127.0.0.1:9/home\n"));
    }

    void messageBox_data()
    {
        QTest::addColumn<bool>("isUploadLog");
        QTest::newRow("upload and web page") << true;
        QTest::newRow("box only") << false;
    }
    void messageBox()
    {
        QFETCH(bool, isUploadLog);
        UpdateWidget window;
        prepareLog(window, QStringLiteral("box.log"), QByteArray("line\r\n"));
        QList<int> exitCodes;
        // The real exit ends the process: whatever the window wants opened
        // must have been asked for by then.
        QString openedBeforeExit;
        window.setProcessExit([&](int code) {
            if (isUploadLog)
                openedBeforeExit = opener.calls();
            exitCodes << code;
        });
        int uploadsBeforeBox = -1;
        closeNextMessageBox(&uploadsBeforeBox);

        window.showMessageBox(QStringLiteral("Something failed"), isUploadLog);

        QCOMPARE(uploadsBeforeBox, isUploadLog ? 1 : 0);
        QCOMPARE(exitCodes, QList<int>{-1});
        if (isUploadLog) {
            QCOMPARE(openedBeforeExit, QStringLiteral("http://127.0.0.1:9/home\n"));
        } else {
            QTest::qWait(300);
            QVERIFY(!opener.wasCalled());
            QCOMPARE(server.requests().size(), 0);
        }
    }
};

QTEST_MAIN(TestUploadLog)
#include "tst_uploadlog.moc"
