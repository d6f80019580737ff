#pragma once

#include "foldertree.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// An installation, a prepared folder in the work folder and private XDG and
// HOME folders in one temporary folder; the setup program (the path in the
// environment variable TRELLIM_PROGRAM) runs against them as a real process,
// as the updater starts it.
class SetupSandbox
{
public:
    explicit SetupSandbox(const QString &installName = QStringLiteral("velmora"));

    QString path(const QString &relative) const;
    QString logPath(bool onDesktop = false) const;

    // Failures show in the comparisons that follow.
    static void write(const QString &file, const QByteArray &content);
    static QByteArray read(const QString &file);
    void install(const FolderTree::Tree &files) const;
    void prepare(const FolderTree::Tree &files) const;

    // A main application that records the folder it runs in.
    void addMainApplication(bool executable) const;
    QString mainApplicationRecord() const;

    // The five arguments the updater passes.
    QStringList arguments() const;
    QProcessEnvironment environment() const;
    // Runs the setup program to its end: its exit code, -1 when it did not
    // end normally within a minute, -2 when it wrote to its standard
    // channels, which must stay silent.
    int run(const QStringList &arguments) const;

    QStringList logLines(bool onDesktop = false) const;
    // The log has exactly one line with `text`.
    bool logHas(const QString &text, bool onDesktop = false) const;

    QTemporaryDir dir;
    const QString installPath;
    const QString packetPath;
};
