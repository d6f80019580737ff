#include "startup/logsink.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>

class TestLogSink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QByteArray logContent() const
    {
        QFile file(logDirectory + QLatin1Char('/') + logFileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void init()
    {
        logDirectory = dir.path();
        logFileName = QStringLiteral("%1.log").arg(QTest::currentDataTag());
        QFile::remove(logDirectory + QLatin1Char('/') + logFileName);
    }

    void line_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected"); // the line after the time stamp, empty: no line

        QTest::newRow("debug") << int(QtDebugMsg) << "hello \"x\""
                               << "##update##Debug: %1 hello \"x\"";
        QTest::newRow("critical") << int(QtCriticalMsg) << "bad"
                                  << "##update##Critical: %1 bad";
        QTest::newRow("fatal") << int(QtFatalMsg) << "dead"
                               << "##update##Fatal: %1 dead";
        QTest::newRow("info has no level word") << int(QtInfoMsg) << "note"
                                                << "##update## %1 note";
        QTest::newRow("warning dropped") << int(QtWarningMsg) << "ignored" << QString();
        QTest::newRow("empty message") << int(QtDebugMsg) << QString() << "##update##Debug: %1 ";
        QTest::newRow("line breaks kept") << int(QtDebugMsg) << "a\nb\r\nc"
                                          << "##update##Debug: %1 a\nb\r\nc";
        QTest::newRow("placeholders kept") << int(QtDebugMsg) << "%1 %2"
                                           << "##update##Debug: %1 %1 %2";
        QTest::newRow("chinese text") << int(QtDebugMsg) << QStringLiteral("正在更新程序")
                                      << QStringLiteral("##update##Debug: %1 正在更新程序");
    }

    void line()
    {
        QFETCH(int, type);
        QFETCH(QString, message);
        QFETCH(QString, expected);

        messageHandler(QtMsgType(type), QMessageLogContext(), message);

        const QByteArray content = logContent();
        if (expected.isEmpty()) {
            QVERIFY(content.isEmpty());
            return;
        }
        const QString text = QTextCodec::codecForName("gb18030")->toUnicode(content);
        const QRegularExpression stamp(
            QStringLiteral("\\(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\)"));
        const QRegularExpressionMatch found = stamp.match(text);
        QVERIFY(found.hasMatch());
        const int slot = expected.indexOf(QStringLiteral("%1"));
        QCOMPARE(text, expected.replace(slot, 2, found.captured()) + QStringLiteral("\r\n"));
    }

    void encodesAsGb18030()
    {
        messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("更新"));
        QVERIFY(logContent().endsWith(QByteArray("\xb8\xfc\xd0\xc2\r\n")));
    }

    void appendsToExistingFile()
    {
        messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("one"));
        messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("two"));
        const QList<QByteArray> lines = logContent().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).endsWith(" one\r"));
        QVERIFY(lines.at(1).endsWith(" two\r"));
    }

    void missingDirectoryDropsLines()
    {
        logDirectory = dir.path() + QStringLiteral("/missing");
        messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("lost"));
        QVERIFY(!QFile::exists(logDirectory));
        logDirectory = dir.path();
        messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("kept"));
        QVERIFY(logContent().endsWith(" kept\r\n"));
    }

    void threadsNeverTearLines()
    {
        const int perThread = 300;
        const QString payload(200, QLatin1Char('x'));
        auto writer = [&](QChar tag) {
            return QThread::create([=] {
                for (int i = 0; i < perThread; ++i)
                    messageHandler(QtDebugMsg, QMessageLogContext(), tag + payload + tag);
            });
        };
        QThread *first = writer(QLatin1Char('A'));
        QThread *second = writer(QLatin1Char('B'));
        first->start();
        second->start();
        QVERIFY(first->wait(60000));
        QVERIFY(second->wait(60000));
        delete first;
        delete second;

        const QList<QByteArray> lines = logContent().split('\n');
        QCOMPARE(lines.size(), 2 * perThread + 1);
        const QRegularExpression pattern(
            QStringLiteral("^##update##Debug: \\([^)]+\\) ([AB])x{200}\\1\r$"));
        int countA = 0;
        for (int i = 0; i < 2 * perThread; ++i) {
            const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(lines.at(i)));
            QVERIFY2(match.hasMatch(), lines.at(i).constData());
            countA += match.captured(1) == QLatin1String("A");
        }
        QCOMPARE(countA, perThread);
    }
};

QTEST_GUILESS_MAIN(TestLogSink)
#include "tst_logsink.moc"
