// update-packager: makes the update releases that `update` installs.
#include "packager/packagercommandline.h"
#include "packager/releasebuilder.h"
#include "packager/summarytable.h"
#include "releasecontract/signingkey.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThreadPool>
#include <cstdio>
#include <unistd.h>

namespace {

// The shared updater code logs every step as debug messages, which is the
// updater's log but only noise here; warnings and worse still show.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int buildRelease(const ReleaseOptions &options)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The progress line is rewritten in place on a terminal and left out
    // elsewhere, so that logs keep only what matters.
    const bool terminal = isatty(fileno(stderr));
    bool progressShown = false;
    const auto endProgress = [&] {
        if (progressShown)
            err << "\r\033[K" << Qt::flush;
        progressShown = false;
    };

    QElapsedTimer timer;
    timer.start();
    ReleaseBuilder builder(options);
    QObject::connect(&builder, &ReleaseBuilder::progress, [&](const QString &line) {
        if (!terminal)
            return;
        err << "\r\033[K" << line << Qt::flush;
        progressShown = true;
    });
    QObject::connect(&builder, &ReleaseBuilder::warning, [&](const QString &text) {
        endProgress();
        err << "update-packager: warning: " << text << Qt::endl;
    });
    const bool built = builder.run();
    endProgress();
    if (!built) {
        err << "update-packager: " << builder.errorString() << Qt::endl;
        return 1;
    }
    out << summaryTable(builder.publishedFiles());
    out << QStringLiteral("diffed %1 file(s) in %2 s on %3 thread(s), %4 s of work\n")
               .arg(builder.diffCount())
               .arg(double(builder.diffMilliseconds()) / 1000.0, 0, 'f', 2)
               .arg(QThreadPool::globalInstance()->maxThreadCount())
               .arg(double(builder.diffWorkMilliseconds()) / 1000.0, 0, 'f', 2);
    out << QStringLiteral("verified %1 old version(s) in %2 release class(es) in %3 s; "
                          "released %4 in %5 s\n")
               .arg(options.oldTrees.size())
               .arg(options.osTags.size())
               .arg(double(builder.verificationMilliseconds()) / 1000.0, 0, 'f', 2)
               .arg(options.outFolder)
               .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 2);
    out << "configuration: " << builder.configurationUrl() << Qt::endl;
    return 0;
}

int generateKey(const QString &folder)
{
    SigningKey key;
    if (!key.generate(folder)) {
        QTextStream(stderr) << "update-packager: " << key.errorString() << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << QStringLiteral(
                               "secret key: %1/%2 (owner only; keep it on the release machine)\n"
                               "public key: %1/%3\n"
                               "build the updaters that trust it with:\n"
                               "  -DVELMORA_CONFIG_PUBLIC_KEYS=%4\n")
                               .arg(folder, SigningKey::secretKeyFileName(),
                                    SigningKey::publicKeyFileName(), key.publicKeyText());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("update-packager"));
    qInstallMessageHandler(quietMessages);

    PackagerCommandLine commandLine;
    switch (commandLine.parse(QCoreApplication::arguments())) {
    case PackagerCommandLine::Outcome::ShowHelp:
        QTextStream(stdout) << commandLine.helpText();
        return 0;
    case PackagerCommandLine::Outcome::Invalid:
        QTextStream(stderr) << "update-packager: " << commandLine.errorString()
                            << "\nRun update-packager --help for the options.\n";
        return 2;
    case PackagerCommandLine::Outcome::Run:
        break;
    }
    switch (commandLine.command()) {
    case PackagerCommandLine::Command::BuildRelease:
        return buildRelease(commandLine.releaseOptions());
    case PackagerCommandLine::Command::GenerateKey:
        return generateKey(commandLine.keyFolder());
    }
    return 2;
}
