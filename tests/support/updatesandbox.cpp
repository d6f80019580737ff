#include "updatesandbox.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>

UpdateSandbox::UpdateSandbox()
    : ownFolder(std::make_unique<QTemporaryDir>()), root(ownFolder->path()),
      pkill(root + QStringLiteral("/bin"), QStringLiteral("pkill")),
      xdgOpen(root + QStringLiteral("/bin"), QStringLiteral("xdg-open"))
{
    QDir().mkpath(path(QStringLiteral("home/Desktop")));
}

UpdateSandbox::UpdateSandbox(const QString &root)
    : root(root), pkill(root + QStringLiteral("/bin"), QStringLiteral("pkill")),
      xdgOpen(root + QStringLiteral("/bin"), QStringLiteral("xdg-open"))
{
    QDir().mkpath(path(QStringLiteral("home/Desktop")));
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

QString UpdateSandbox::path(const QString &relative) const
{
    return root + QLatin1Char('/') + relative;
}

QString UpdateSandbox::workDirectory() const
{
    return path(QStringLiteral("data/Velmora/update"));
}

void UpdateSandbox::writeSettings(const QByteArray &content) const
{
    QDir().mkpath(path(QStringLiteral("data/Velmora")));
    QFile file(path(QStringLiteral("data/Velmora/settings.ini")));
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void UpdateSandbox::start(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       path(QStringLiteral("bin:")) + environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
    if (display.isEmpty()) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display);
    }
    environment.insert(QStringLiteral("VELMORA_UPLOAD_SERVER"), uploadServer);
    environment.remove(QStringLiteral("no_proxy"));
    if (proxy.isEmpty())
        environment.remove(QStringLiteral("http_proxy"));
    else
        environment.insert(QStringLiteral("http_proxy"), proxy);
    environment.insert(QStringLiteral("VELMORA_HOME_PAGE"), QStringLiteral("http://127.0.0.1:9/"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
}

QStringList UpdateSandbox::logFiles(const QString &folder) const
{
    return QDir(folder.isEmpty() ? workDirectory() : folder)
        .entryList({QStringLiteral("*.log")}, QDir::Files);
}

QString UpdateSandbox::logText(const QString &name, const QString &folder) const
{
    QFile file((folder.isEmpty() ? workDirectory() : folder) + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QTextCodec::codecForName("gb18030")->toUnicode(file.readAll());
}
