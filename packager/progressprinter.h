#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

// Shows where a release stands on standard error. On a terminal the latest
// progress line is rewritten in place; elsewhere (a build log) each step
// gets a plain line when it begins and then one every few seconds, so that
// the log shows life without filling up.
class ProgressPrinter
{
public:
    explicit ProgressPrinter(bool terminal);

    // A progress line "step" or "step: detail".
    void show(const QString &line);
    // A line that stays, after the progress line is cleared.
    void print(const QString &text);
    // Clears a progress line still shown.
    void finish();

private:
    const bool m_terminal;
    QTextStream m_errors;
    bool m_shown = false;
    QString m_step;
    QElapsedTimer m_sincePrinted;
};
