#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by the extraction tests: the system's 7zz, small file trees
// and a capture of the log.
namespace ExtractionTestSupport {

// Runs 7zz in a folder with a UTF-8 locale; true when it exits with 0.
bool run7zz(const QStringList &arguments, const QString &workingDirectory,
            QString *output = nullptr);
// The methods 7zz reports for the archive's blocks.
QString archiveMethods(const QString &archive);

bool writeFile(const QString &path, const QByteArray &data);
QByteArray readFile(const QString &path);
// Every entry below the folder, relative, sorted; folders end in "/".
QStringList listTree(const QString &folder);
// A file's modification time in nanoseconds since 1970 (negative before).
qint64 modificationTime(const QString &path);
bool setModificationTime(const QString &path, qint64 nanoseconds);
// Reproducible bytes that do not compress.
QByteArray noise(int size, quint32 seed);

// The debug lines of the test's LogCapture, one text.
QString capturedLog();

} // namespace ExtractionTestSupport
