#pragma once

#include <QString>

// A stand-in for a program that the code under test finds on PATH (`pkill`,
// `xdg-open`): a shell script in `folder` that appends its arguments, one call
// a line, to a file, so that a test sees what would have been started without
// starting it. `folder` is created when missing; the test puts it first on PATH.
class RecordingTool
{
public:
    RecordingTool(const QString &folder, const QString &name);

    // What the tool recorded. It may still be running after its caller ended,
    // so this waits a little for a first call.
    QString calls() const;
    bool wasCalled() const;
    void forgetCalls() const;

private:
    QString callsPath;
};
