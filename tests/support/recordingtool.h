#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A stand-in for a program that the code under test starts (`pkill`,
// `xdg-open`, the setup program, an installer): a shell script at
// `folder`/`name` that records each call, so that a test sees what would have
// been started without starting it. The records go to `recordFolder` (by
// default `folder`, which is created when missing); a test that finds the tool
// through PATH puts `folder` first on it.
class RecordingTool
{
public:
    RecordingTool(const QString &folder, const QString &name,
                  const QString &recordFolder = QString());

    // The calls so far, one line each with the arguments joined by blanks.
    // The tool may still be running after its caller ended, so this waits a
    // little for a first call.
    QString calls() const;
    // The exact arguments of each complete call so far, without waiting.
    QList<QStringList> argumentLists() const;
    bool wasCalled() const;
    void forgetCalls() const;

    // The script's content, for a copy published elsewhere (on a server).
    QByteArray script() const;

private:
    QString callsPath;
    QString argumentsPath;
};
