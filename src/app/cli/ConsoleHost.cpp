#include "ConsoleHost.h"

#include "TerminalText.h"

#include <cstdio>

namespace {

void writeStderr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// A message on one line: the line breaks of a message box become spaces; the
// printing shows any other control.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

} // namespace

ConsoleHost::ConsoleHost(bool showProgress) : m_showProgress(showProgress) {}

void ConsoleHost::printLine(const QString &text)
{
    if (m_progressShown)
        writeStderr(QStringLiteral("\r\033[K"));
    m_progressShown = false;
    writeStderr(cli::terminalSafe(text) + QLatin1Char('\n'));
}

void ConsoleHost::printProgress(const QString &text)
{
    if (!m_showProgress)
        return;
    writeStderr(QStringLiteral("\r\033[K") + cli::terminalSafe(text, 100));
    m_progressShown = true;
}

void ConsoleHost::setStatusBarText(const QString &text)
{
    if (m_showProgress)
        printLine(text);
}

void ConsoleHost::syncGridRows()
{
    // The rows are printed once the worker has ended.
}

void ConsoleHost::showWarning(const QString &text)
{
    m_warned = true;
    printLine(QStringLiteral("Warning: ") + oneLine(text));
}

void ConsoleHost::showApplicationError(const QString &text)
{
    m_failed = true;
    printLine(QStringLiteral("Error: ") + oneLine(text));
}

void ConsoleHost::showErrorMessage(const QString &text)
{
    printLine(QStringLiteral("Error: ") + oneLine(text));
}

void ConsoleStatusWindow::ShowStatus(const QString &text)
{
    m_status = text;
    m_host->printProgress(QStringLiteral("[%1%] %2").arg(m_percent, 3).arg(m_status));
}

void ConsoleStatusWindow::ShowProgress(int percent)
{
    m_percent = percent;
    m_host->printProgress(QStringLiteral("[%1%] %2").arg(m_percent, 3).arg(m_status));
}

void ConsoleStatusWindow::MarkFinished()
{
    m_worker = nullptr;
    if (m_printsFinalStatus)
        m_host->printLine(m_status);
}

void ConsoleStatusWindow::cancel()
{
    m_host->run([this] {
        if (m_worker)
            m_worker->requestInterruption();
        m_worker = nullptr;
    });
}
