#include "updatesandbox.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>

UpdateSandbox::UpdateSandbox(const QString &root)
    : pkill(root + QStringLiteral("/bin"), QStringLiteral("pkill")),
      xdgOpen(root + QStringLiteral("/bin"), QStringLiteral("xdg-open")), root(root)
{
    QDir().mkpath(root + QStringLiteral("/home/Desktop"));
    QDir().mkpath(workDirectory());
}

UpdateSandbox::~UpdateSandbox()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(10000);
    }
}

QString UpdateSandbox::builtProgram(const QString &name)
{
    return QStringLiteral(VELMORA_BINARY_DIR "/bin/") + name;
}

QProcessEnvironment UpdateSandbox::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       root + QStringLiteral("/bin:") + environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VELMORA_UPLOAD_SERVER"),
                       QStringLiteral("http://127.0.0.1:9"));
    environment.insert(QStringLiteral("VELMORA_HOME_PAGE"), QStringLiteral("http://127.0.0.1:9/"));
    return environment;
}

void UpdateSandbox::start(const QStringList &arguments)
{
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(builtProgram(QStringLiteral("update")), arguments);
}

QString UpdateSandbox::workDirectory() const
{
    return root + QStringLiteral("/data/Velmora/update");
}

QStringList UpdateSandbox::logFiles() const
{
    return QDir(workDirectory()).entryList({QStringLiteral("update_*.log")}, QDir::Files);
}

QString UpdateSandbox::logText(const QString &name) const
{
    QFile file(workDirectory() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QTextCodec::codecForName("gb18030")->toUnicode(file.readAll());
}
