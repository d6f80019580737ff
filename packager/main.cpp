// update-packager: makes the update releases that `update` installs.
#include "packager/packagercommandline.h"
#include "packager/packagerplatform.h"
#include "packager/progressprinter.h"
#include "packager/releasebuilder.h"
#include "packager/releasesummary.h"
#include "releasecontract/signingkey.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTextStream>
#include <cstdio>

namespace {

// The shared updater code logs every step as debug messages, which is the
// updater's log but only noise here; warnings and worse still show.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

bool writeSummary(const QString &path, const QJsonObject &summary)
{
    QFile file(path);
    const QByteArray json = QJsonDocument(summary).toJson();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(json) == json.size() && file.flush();
}

int buildRelease(const ReleaseOptions &options)
{
    QTextStream out(stdout);
    ProgressPrinter printer(PackagerPlatform::errorsGoToTerminal());
    QElapsedTimer timer;
    timer.start();
    ReleaseBuilder builder(options);
    QObject::connect(&builder, &ReleaseBuilder::progress,
                     [&](const QString &line) { printer.show(line); });
    QObject::connect(&builder, &ReleaseBuilder::warning, [&](const QString &text) {
        printer.print(QStringLiteral("update-packager: warning: ") + text);
    });
    const bool built = builder.run();
    printer.finish();
    if (!options.summaryJsonFile.isEmpty() &&
        !writeSummary(options.summaryJsonFile,
                      summaryJson(builder, options, built, timer.elapsed())))
        printer.print(
            QStringLiteral("update-packager: warning: the summary cannot be written to ") +
            options.summaryJsonFile);
    if (!built) {
        printer.print(QStringLiteral("update-packager: ") + builder.errorString());
        return 1;
    }
    if (options.dryRun) {
        out << summaryLines(builder, true)
            << "dry run: every check that needs no packet passed; nothing was written\n";
        return 0;
    }
    out << summaryTable(builder.publishedFiles()) << summaryLines(builder, false);
    out << QStringLiteral("diffed %1 file(s) in %2 s on %3 thread(s) within %4 MB, %5 s of work\n")
               .arg(builder.diffStatistics().files)
               .arg(double(builder.diffStatistics().milliseconds) / 1000.0, 0, 'f', 2)
               .arg(builder.diffStatistics().threads)
               .arg(double(builder.diffStatistics().memoryBudget) / 1e6, 0, 'f', 1)
               .arg(double(builder.diffStatistics().workMilliseconds) / 1000.0, 0, 'f', 2);
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
    // Before any thread exists, so that every thread leaves interrupts to
    // the one that cleans up.
    PackagerPlatform::handleInterrupts();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("update-packager"));
    qInstallMessageHandler(quietMessages);

    PackagerCommandLine commandLine;
    switch (commandLine.parse(QCoreApplication::arguments())) {
    case PackagerCommandLine::Outcome::ShowHelp:
        QTextStream(stdout) << commandLine.helpText();
        return 0;
    case PackagerCommandLine::Outcome::ShowVersion:
        QTextStream(stdout) << PackagerCommandLine::versionText();
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
