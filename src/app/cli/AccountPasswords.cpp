#include "AccountPasswords.h"

#include "TerminalText.h"
#include "common/Error.h"

#include <QFile>
#include <QHash>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

QString firstLineOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw qb::Error(
            QStringLiteral("Cannot read the password file %1: %2").arg(path, file.errorString()));
    }
    QByteArray line = file.readLine(64 * 1024);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// Asks on the terminal itself, so that a password never passes through a pipe or a log.
QString askOnTerminal(const MailStoreEntry &account)
{
    FILE *terminal = std::fopen("/dev/tty", "r+e");
    if (!terminal) {
        throw qb::Error(QStringLiteral("A password is needed for %1; give --password-file, as "
                                       "there is no terminal to ask on")
                            .arg(terminalSafe(account.accountText())));
    }
    struct Closer
    {
        FILE *file;
        ~Closer() { std::fclose(file); }
    } closer{terminal};
    const int fd = fileno(terminal);
    std::fprintf(terminal, "Password for %s: ",
                 terminalSafe(account.accountText()).toLocal8Bit().constData());
    std::fflush(terminal);
    termios before = {};
    const bool quiet = ::tcgetattr(fd, &before) == 0;
    if (quiet) {
        termios hidden = before;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &hidden);
    }
    char buffer[4096];
    const bool read = std::fgets(buffer, sizeof buffer, terminal) != nullptr;
    if (quiet)
        ::tcsetattr(fd, TCSAFLUSH, &before);
    std::fputs("\n", terminal);
    if (!read)
        throw qb::Error(QStringLiteral("No password was given"));
    QByteArray line(buffer);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

} // namespace

mailstore::PasswordSource accountPasswords(const QList<MailStoreEntry> &stores,
                                           const QString &passwordFile)
{
    QHash<QString, QString> passwords; // by account
    for (const MailStoreEntry &store : stores) {
        if (store.type != MailStoreEntry::Type::Imap || passwords.contains(store.accountText()))
            continue;
        passwords.insert(store.accountText(),
                         passwordFile.isEmpty() ? askOnTerminal(store) : firstLineOf(passwordFile));
    }
    // Read only once gathered, so any thread may ask.
    return [passwords](const MailStoreEntry &account) -> std::optional<QString> {
        const auto found = passwords.constFind(account.accountText());
        return found == passwords.cend() ? std::nullopt : std::optional<QString>(*found);
    };
}

} // namespace cli
