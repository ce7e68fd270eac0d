#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>

#include <csignal>
#include <optional>

#include <QCommandLineOption>
#include <QList>

class ConsoleStatusWindow;
class QCommandLineParser;

namespace cli {

void printOut(const QString &text);
// Prints "quillbrook-cli: <message>" to stderr, on one line: a message quotes what it
// was given, so controls show as \xNN. Returns the exit status for bad input.
int usageError(const QString &message);

// A command's --help text, whose usage line names it as it is typed: "quillbrook-cli
// analyze [options]".
QString helpText(const QCommandLineParser &parser);

// --lock-timeout, as every command that changes emails takes it, and its value; the
// value throws qb::Error when it is not a number of seconds.
QCommandLineOption lockTimeoutOption();
int lockTimeoutOf(const QCommandLineParser &parser);
// --store and --password-file for a command that works on emails a record names.
QList<QCommandLineOption> storeOptions();

// Parses a command's options, with --help. Returns the exit status when the command
// is already done (help shown, or bad options reported); nothing when it should run.
std::optional<int> parseOptions(QCommandLineParser &parser, const QStringList &arguments);

// While it lives, Ctrl+C does not end the process: it is remembered, and it presses
// Cancel on the status window being watched, if any. A command that spans several
// runs keeps one for all of them, so a Ctrl+C between runs is not lost either.
class InterruptCatcher
{
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher &) = delete;
    InterruptCatcher &operator=(const InterruptCatcher &) = delete;

    // The window whose Cancel a Ctrl+C presses from now on; nullptr for none.
    void watch(ConsoleStatusWindow *window);
    // Whether Ctrl+C was pressed while this lived. Called on the main thread.
    bool interrupted();

private:
    QTimer m_poll;
    QPointer<ConsoleStatusWindow> m_window;
    bool m_interrupted = false;
    struct sigaction m_previous = {};
};

// Asks question on the terminal and waits for y or n. Waits in short polls, as a Ctrl+C
// does not break into a restarted read; a Ctrl+C counts as no.
bool confirmed(const QString &question, InterruptCatcher &interrupts);

} // namespace cli
