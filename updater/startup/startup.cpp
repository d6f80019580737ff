#include "startup/startup.h"

#include "platform/platform.h"
#include "releasecontract/logfolder.h"
#include "releasecontract/wrappedpath.h"
#include "shared/startupvalues.h"
#include "startup/logsink.h"
#include "window/updatewidget.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTextCodec>
#include <QTranslator>
#include <QUrl>

QString Startup::configurationUrl(const QString &downloadurl)
{
    const QString path = QUrl(downloadurl).path(QUrl::FullyDecoded);
    const QString suffix = QFileInfo(path).suffix();
    if (suffix == QLatin1String("exe") || suffix == QLatin1String("dmg"))
        return downloadurl + QStringLiteral(".json");
    return downloadurl;
}

QString Startup::buildLogFileName(const std::optional<QString> &userName, const QString &osTag,
                                  const QString &version, const QDateTime &now)
{
    const QString stamp = now.toString(QStringLiteral("yyyy.MM.dd-hh.mm.ss.zzz"));
    const QString user = userName ? *userName + QLatin1Char('_') : QString();
    return QStringLiteral("update_") + user + osTag + QLatin1Char('_') + version +
           QLatin1Char('_') + stamp + QStringLiteral(".log");
}

void Startup::readMainApplicationSettings(const QString &settingsPath, QString *translationFile,
                                          bool *catUpdateLog)
{
    *translationFile = QString();
    *catUpdateLog = false;
    if (!QFileInfo::exists(settingsPath))
        return;
    QSettings settings(settingsPath, QSettings::IniFormat);
    if (settings.value(QStringLiteral("lang")).toString() == QLatin1String("zh"))
        *translationFile = QStringLiteral(":/en_ch.qm");
    *catUpdateLog = LogFolder::catUpdateLog(settings);
}

int Startup::run(int argc, char **argv, const QString &trustedKeys)
{
    QApplication app(argc, argv);
    // Schools often reach the update server only through their proxy.
    Platform::useSystemProxy();

    // Kept alive until the process ends, even when start-up returns at once,
    // so that the command is never cut short by its object's destruction.
    auto *stopMainApplication = new QProcess;
    Platform::startStopMainApplication(*stopMainApplication);

    QTextCodec *gb18030 = QTextCodec::codecForName("gb18030");
    const QString osTag = Platform::osTag();

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.size() < 3 || arguments.size() > 5)
        return -1;

    UpdateWidget window;
    window.show();

    StartupValues values;
    values.osTag = osTag;
    values.trustedKeys = trustedKeys;
    std::optional<QString> userName; // given in the 4-argument form only
    if (arguments.size() == 5) {
        values.version = arguments.at(1);
        values.downloadurl = arguments.at(2);
        values.installPath = WrappedPath::unwrap(arguments.at(3));
        values.logFileName = arguments.at(4);
        values.skipFix = true;
    } else {
        values.version = arguments.at(0);
        values.downloadurl = arguments.at(1);
        values.installPath = WrappedPath::unwrap(arguments.at(2));
        if (arguments.size() == 4)
            userName = arguments.at(3);
        values.logFileName =
            buildLogFileName(userName, osTag, values.version, QDateTime::currentDateTime());
    }
    logFileName = values.logFileName;

    // The work folder is created even when the log goes to the desktop.
    QDir().mkpath(LogFolder::workDirectory());

    Platform::setLocaleCodec(gb18030);

    QString translationFile;
    bool catUpdateLog = false;
    readMainApplicationSettings(LogFolder::settingsPath(), &translationFile, &catUpdateLog);
    logDirectory = LogFolder::choose(catUpdateLog);

    auto *translator = new QTranslator(&app);
    translator->load(translationFile);
    QCoreApplication::installTranslator(translator);

    qInstallMessageHandler(messageHandler);

    values.downloadurl = configurationUrl(values.downloadurl);
    window.setStartupValues(values);

    const QString systemInfo = Platform::systemInfo();
    const QString cpuInfo = Platform::cpuInfo();
    const QByteArray rule(76, '*');
    qDebug() << rule.constData();
    qDebug() << "******** userName: " << userName.value_or(QString());
    qDebug() << "******** VelmoraVersion: " << values.version;
    qDebug() << "******** systemInfo:" << systemInfo;
    qDebug() << "******** cpuInfo: " << cpuInfo;
    qDebug() << rule.constData();
    qDebug() << "installPath" << values.installPath;
    qDebug() << "downloadurl" << values.downloadurl;

    window.startUpdate();
    return app.exec();
}
