#include "packager/progressprinter.h"

#include <cstdio>

namespace {

const qint64 plainLineInterval = 10000;

} // namespace

ProgressPrinter::ProgressPrinter(bool terminal) : m_terminal(terminal), m_errors(stderr) {}

void ProgressPrinter::show(const QString &line)
{
    if (m_terminal) {
        m_errors << "\r\033[K" << line << Qt::flush;
        m_shown = true;
        return;
    }
    const QString step = line.section(QStringLiteral(": "), 0, 0);
    if (step == m_step && m_sincePrinted.isValid() && m_sincePrinted.elapsed() < plainLineInterval)
        return;
    m_step = step;
    m_sincePrinted.start();
    m_errors << line << Qt::endl;
}

void ProgressPrinter::print(const QString &text)
{
    finish();
    m_errors << text << Qt::endl;
}

void ProgressPrinter::finish()
{
    if (m_shown)
        m_errors << "\r\033[K" << Qt::flush;
    m_shown = false;
}
