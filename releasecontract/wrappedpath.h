#pragma once

#include <QString>

// A path on the command lines that the updater and the setup program exchange
// travels as "*" + path + "*", so that a path with blanks stays one
// recognisable item.
class WrappedPath
{
public:
    static QString wrap(const QString &path);
    // The second "*"-separated part when there are at least two, else the whole
    // argument: a plain path passes unchanged.
    static QString unwrap(const QString &argument);
};
