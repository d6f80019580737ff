#include "shared/vendorconfig.h"
#include "window/updatewidget.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTest>
#include <QTranslator>

class TestCatalogue : public QObject
{
    Q_OBJECT

private:
    QTranslator translator;

private slots:
    void initTestCase()
    {
        QVERIFY(translator.load(QStringLiteral(":/en_ch.qm")));
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }

    void entries_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("translation");
        const QString host = QStringLiteral(VELMORA_WEB_HOST);
        const auto row = [](const char *context, const QString &source,
                            const QString &translation) {
            QTest::addRow("%s: %s", context, qPrintable(source))
                << QString::fromLatin1(context) << source << translation;
        };
        row("DownloadControl", "The connection has been broken,please login and download again",
            QStringLiteral("连接已断开,请重新登录下载"));
        row("DownloadControl", "The connection timeout,please check the download url",
            QStringLiteral("连接超时,请检查下载地址"));
        row("DownloadControl", "The download file  is not found,please check the download url",
            QStringLiteral("下载文件未找到,请检查下载地址"));
        row("DownloadControl", "The download file size is invalid,please check the download url",
            QStringLiteral("下载文件大小无效,请检查下载地址"));
        row("DownloadControl", "The server is not found,please check the network",
            QStringLiteral("服务器未找到,请检查网络"));
        row("DownloadThread", "The connection has been broken,please login and download again",
            QStringLiteral("连接已断开,请重新登录下载"));
        row("DownloadThread", "The connection timeout,please check the download url",
            QStringLiteral("连接超时,请检查下载地址"));
        row("DownloadThread", "The download file is not found,please check the download url",
            QStringLiteral("下载文件未找到,请检查下载地址"));
        row("DownloadThread", "The server is busy,please try again later",
            QStringLiteral("服务器繁忙,请稍后再试"));
        row("DownloadThread", "The server is not found,please check the network",
            QStringLiteral("服务器未找到,请检查网络"));
        row("DownloadThread",
            "Your broadband service provider hijacked the download address, please download the "
            "latest version from <" +
                host + ">",
            QStringLiteral("您的宽带服务提供商劫持下载地址,请从<") + host +
                QStringLiteral(">下载最新版本"));
        row("UpdateControl", "%1", "%1");
        row("UpdateControl", "Download url is error", QStringLiteral("下载地址错误"));
        row("UpdateControl", "Download url is error,Please login and download again",
            QStringLiteral("下载地址错误,请重新登录下载"));
        row("UpdateControl", "Downloading,Please wait", QStringLiteral("正在下载,请稍候"));
        row("UpdateControl", "Get download file size error",
            QStringLiteral("获取下载文件大小错误"));
        row("UpdateControl", "Preparing configuration file", QStringLiteral("正在准备配置文件"));
        row("UpdateControl", "Preparing new update program",
            QStringLiteral("正在准备新的升级程序"));
        row("UpdateControl",
            "Update error,It will jump to URL <" + host +
                ">.You can download newest version.Note that anti-virus software may intercept to "
                "jumping mistakenly",
            QStringLiteral("升级错误,将会跳转到\"") + host +
                QStringLiteral("\".你可以下载最新版本.注意杀毒软件可能会拦截跳转."));
        row("UpdateControl", "Updating program", QStringLiteral("正在更新程序"));
        row("UpdateWidget", "Velmora update", QStringLiteral("Velmora更新"));
        row("UpdateWidget", "Waiting to update", QStringLiteral("等待更新"));
        row("UpdateWidget", "update", QStringLiteral("更新"));
        // Each not-found text belongs to its own context only; unknown texts stay English.
        row("DownloadThread", "The download file  is not found,please check the download url",
            "The download file  is not found,please check the download url");
        row("DownloadControl", "The download file is not found,please check the download url",
            "The download file is not found,please check the download url");
        row("UpdateWidget", "Updating program", "Updating program");
        row("UpdateControl", "Not in the catalogue", "Not in the catalogue");
    }
    void entries()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, translation);
        QCOMPARE(QCoreApplication::translate(context.toLatin1().constData(),
                                             source.toUtf8().constData()),
                 translation);
    }

    void windowIsTranslated()
    {
        UpdateWidget window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora更新"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("stateLabel"))->text(),
                 QStringLiteral("等待更新"));
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
