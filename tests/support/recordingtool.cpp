#include "recordingtool.h"

#include <QDir>
#include <QFile>
#include <QTest>

RecordingTool::RecordingTool(const QString &folder, const QString &name,
                             const QString &recordFolder)
{
    const QString records = (recordFolder.isEmpty() ? folder : recordFolder) + QLatin1Char('/');
    callsPath = records + name + QStringLiteral(".calls");
    argumentsPath = records + name + QStringLiteral(".arguments");
    QDir().mkpath(folder);
    QDir().mkpath(records);
    QFile file(folder + QLatin1Char('/') + name);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(script());
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
}

QByteArray RecordingTool::script() const
{
    // Each call appends its argument count, then one argument a line.
    return QStringLiteral("#!/bin/sh\n"
                          "echo \"$@\" >> \"%1\"\n"
                          "{ echo \"$#\"; for argument in \"$@\"; do echo \"$argument\"; done; }"
                          " >> \"%2\"\n")
        .arg(callsPath, argumentsPath)
        .toUtf8();
}

QString RecordingTool::calls() const
{
    QFile file(callsPath);
    // No call within the wait reads as none.
    if (!QTest::qWaitFor([&file] { return file.size() > 0; }, 5000))
        return QString();
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QList<QStringList> RecordingTool::argumentLists() const
{
    QFile file(argumentsPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QList<QStringList> calls;
    // A call still being written is left out; the last line is always empty.
    for (int at = 0; at + 1 < lines.size();) {
        const int count = lines.at(at).toInt();
        if (at + 1 + count >= lines.size())
            break;
        calls << lines.mid(at + 1, count);
        at += 1 + count;
    }
    return calls;
}

bool RecordingTool::wasCalled() const
{
    return QFile::exists(callsPath);
}

void RecordingTool::forgetCalls() const
{
    QFile::remove(callsPath);
    QFile::remove(argumentsPath);
}
