#include "CliSupport.h"

#include "ConsoleHost.h"
#include "TerminalText.h"
#include "common/Error.h"
#include "processing/TEmailThread.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace cli {

namespace {

// Set by the signal handler, taken by the catcher on the main thread.
std::atomic<bool> interruptPending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onInterrupt(int)
{
    interruptPending = true;
}

} // namespace

void printOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

int usageError(const QString &message)
{
    const QByteArray bytes =
        (QStringLiteral("quillbrook-cli: ") + terminalSafe(message) + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    return 1;
}

QString helpText(const QCommandLineParser &parser)
{
    // Qt names the program by the path it was started with; the usage names the command.
    QString text = parser.helpText();
    const qsizetype options = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && options > 0)
        text.replace(7, options - 7,
                     QStringLiteral("quillbrook-cli ") + QCoreApplication::arguments().value(1));
    return text;
}

QCommandLineOption lockTimeoutOption()
{
    return {QStringLiteral("lock-timeout"),
            QStringLiteral("While another program changes the mail store, wait this long before "
                           "giving up (default %1).")
                .arg(TEmailThread::defaultLockTimeout),
            QStringLiteral("SECONDS")};
}

int lockTimeoutOf(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("lock-timeout")))
        return TEmailThread::defaultLockTimeout;
    bool number = false;
    const int seconds = parser.value(QStringLiteral("lock-timeout")).toInt(&number);
    if (!number || seconds < 0)
        throw qb::Error(QStringLiteral("--lock-timeout takes a number of seconds"));
    return seconds;
}

QList<QCommandLineOption> storeOptions()
{
    return {{QStringLiteral("store"),
             QStringLiteral("A store to open (repeatable), as for the other commands; default the "
                            "configured stores, else $MAILDIR, else ~/Maildir."),
             QStringLiteral("STORE")},
            {QStringLiteral("password-file"),
             QStringLiteral("Read the IMAP password from the first line of this file."),
             QStringLiteral("FILE")}};
}

std::optional<int> parseOptions(QCommandLineParser &parser, const QStringList &arguments)
{
    parser.addHelpOption();
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(helpText(parser));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("Unexpected argument %1").arg(parser.positionalArguments().first()));
    return std::nullopt;
}

InterruptCatcher::InterruptCatcher()
{
    interruptPending = false;
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a worker reading or writing mail must not see EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_previous);
    m_poll.setInterval(100);
    QObject::connect(&m_poll, &QTimer::timeout, [this] { interrupted(); });
    m_poll.start();
}

InterruptCatcher::~InterruptCatcher()
{
    sigaction(SIGINT, &m_previous, nullptr);
}

void InterruptCatcher::watch(ConsoleStatusWindow *window)
{
    m_window = window;
}

bool InterruptCatcher::interrupted()
{
    if (interruptPending.exchange(false)) {
        m_interrupted = true;
        if (m_window)
            m_window->cancel();
    }
    return m_interrupted;
}

bool confirmed(const QString &question, InterruptCatcher &interrupts)
{
    std::fprintf(stderr, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stderr);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (!interrupts.interrupted()) {
        const int ready = poll(&input, 1, 100);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0) {
            char answer[16] = {};
            return std::fgets(answer, sizeof answer, stdin) &&
                   (answer[0] == 'y' || answer[0] == 'Y');
        }
    }
    std::fputc('\n', stderr);
    return false;
}

} // namespace cli
