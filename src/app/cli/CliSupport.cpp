#include "CliSupport.h"

#include "ConsoleHost.h"

#include <QCommandLineParser>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace cli {

namespace {
std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted = true;
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
        (QStringLiteral("quillbrook-cli: ") + message + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    return 1;
}

std::optional<int> parseOptions(QCommandLineParser &parser, const QStringList &arguments)
{
    parser.addHelpOption();
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("Unexpected argument %1").arg(parser.positionalArguments().first()));
    return std::nullopt;
}

InterruptCancels::InterruptCancels(ConsoleStatusWindow *window)
{
    interrupted = false;
    std::signal(SIGINT, onInterrupt);
    m_poll.setInterval(100);
    QObject::connect(&m_poll, &QTimer::timeout, window, [window] {
        if (interrupted.exchange(false))
            window->cancel();
    });
    m_poll.start();
}

InterruptCancels::~InterruptCancels()
{
    std::signal(SIGINT, SIG_DFL);
}

} // namespace cli
