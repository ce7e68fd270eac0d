#pragma once

#include <QString>
#include <QTimer>

#include <optional>

class ConsoleStatusWindow;
class QCommandLineParser;

namespace cli {

void printOut(const QString &text);
// Prints "quillbrook-cli: <message>" to stderr; returns the exit status for bad input.
int usageError(const QString &message);

// Parses a command's options, with --help. Returns the exit status when the command
// is already done (help shown, or bad options reported); nothing when it should run.
std::optional<int> parseOptions(QCommandLineParser &parser, const QStringList &arguments);

// While it lives, Ctrl+C presses the status window's Cancel instead of killing the process.
class InterruptCancels
{
public:
    explicit InterruptCancels(ConsoleStatusWindow *window);
    ~InterruptCancels();

private:
    QTimer m_poll;
};

} // namespace cli
