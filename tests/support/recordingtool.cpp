#include "recordingtool.h"

#include <QDir>
#include <QFile>
#include <QTest>

RecordingTool::RecordingTool(const QString &folder, const QString &name)
    : callsPath(folder + QLatin1Char('/') + name + QStringLiteral(".calls"))
{
    QDir().mkpath(folder);
    QFile script(folder + QLatin1Char('/') + name);
    if (script.open(QIODevice::WriteOnly)) {
        script.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> \"%1\"\n").arg(callsPath).toUtf8());
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
}

QString RecordingTool::calls() const
{
    QFile file(callsPath);
    for (int i = 0; i < 100 && file.size() == 0; ++i)
        QTest::qWait(50);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool RecordingTool::wasCalled() const
{
    return QFile::exists(callsPath);
}

void RecordingTool::forgetCalls() const
{
    QFile::remove(callsPath);
}
