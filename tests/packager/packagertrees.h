#pragma once

#include "foldertree.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

// Installation trees and runs of update-packager for the packager's tests.
namespace PackagerTrees {

using Tree = FolderTree::Tree;

// Bytes that compress and diff like a program: random words with repeats.
QByteArray programBytes(int size, quint32 seed);
// The same bytes with a few regions changed and a few bytes inserted.
QByteArray nextVersion(const QByteArray &bytes, quint32 seed);

bool write(const QString &root, const Tree &tree);
// The files under root, leaving out the given top-level folders.
Tree read(const QString &root, const QStringList &leftOut = {});

struct Run
{
    int exitCode = -1;
    QString output;
    QString errors;
};
// Runs this build's update-packager to its end (at most two minutes), with
// a cache folder of the tests' own. With `interruptAt`, `beforeInterrupt`
// runs and then the run gets SIGTERM as soon as its errors show that text.
Run runPackager(const QStringList &arguments, const QString &interruptAt = QString(),
                const std::function<void()> &beforeInterrupt = {});

QString md5(const QByteArray &content);

} // namespace PackagerTrees
