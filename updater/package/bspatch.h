#pragma once

#include <QByteArray>

// Rebuilds newPath from oldPath and the BSDIFF40 patch at patchPath. The paths
// are in the local 8-bit encoding. Returns 0 when the new file has been written
// and 1 on any failure, whose description goes to the log; a failure leaves no
// new file behind and keeps a file already present at newPath as it was.
int bspatchFile(const QByteArray &oldPath, const QByteArray &newPath, const QByteArray &patchPath);
