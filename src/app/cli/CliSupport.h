#pragma once

#include <QString>
#include <QTimer>

class ConsoleStatusWindow;

namespace cli {

void printOut(const QString &text);
// Prints "quillbrook-cli: <message>" to stderr; returns the exit status for bad input.
int usageError(const QString &message);

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
