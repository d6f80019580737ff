#pragma once

#include <QString>

// True when `relativePath`, a path taken from the update configuration, names
// something inside the folder it is joined to: not empty, not absolute, no
// drive or stream colon and no ".." step, with "\" taken as a separator as on
// Windows.
bool staysInsideFolder(const QString &relativePath);
