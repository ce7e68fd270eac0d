#include "StoreConfig.h"

#include "CombinedStore.h"
#include "common/Error.h"
#include "imap/ImapStore.h"
#include "maildir/MaildirStore.h"
#include "maildir/SummaryCache.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QUrl>

namespace mailstore {

namespace {

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::optional<MailStoreEntry> accountFromAddress(const QString &argument)
{
    const bool implicitTls = argument.startsWith(QLatin1String("imaps://"), Qt::CaseInsensitive);
    if (!implicitTls && !argument.startsWith(QLatin1String("imap://"), Qt::CaseInsensitive))
        return std::nullopt;
    const QUrl url(argument, QUrl::StrictMode);
    const auto bad = [&](const QString &why) {
        return qb::MailStoreError(
            QStringLiteral("Cannot read the IMAP account address %1: %2").arg(argument, why));
    };
    if (!url.isValid())
        throw bad(url.errorString());
    if (url.userName().isEmpty() || url.host().isEmpty())
        throw bad(QStringLiteral("it needs a user and a host, as in imaps://ann@mail.example.org"));
    if (!url.password().isEmpty())
        throw bad(QStringLiteral("a password does not belong in it; use --password-file"));
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        throw bad(QStringLiteral("it names no folder; use --folder for that"));
    MailStoreEntry entry;
    entry.type = MailStoreEntry::Type::Imap;
    entry.user = url.userName();
    entry.host = url.host();
    // imap:// asks for STARTTLS, except on this computer, where nothing crosses a network.
    entry.security = implicitTls              ? MailStoreEntry::Security::Tls
                     : isLoopback(entry.host) ? MailStoreEntry::Security::Plain
                                              : MailStoreEntry::Security::StartTls;
    entry.port = quint16(url.port(MailStoreEntry::defaultPort(entry.security)));
    entry.name = entry.user + QLatin1Char('@') + entry.host;
    return entry;
}

} // namespace

QString defaultMaildir()
{
    const QString fromEnvironment = qEnvironmentVariable("MAILDIR");
    return fromEnvironment.isEmpty() ? QDir::homePath() + QStringLiteral("/Maildir")
                                     : fromEnvironment;
}

bool listDefaultMaildir()
{
    const QString path = defaultMaildir();
    if (!readMailStoreEntries().isEmpty() || !QFileInfo(path).isDir())
        return false;
    MailStoreEntry maildir;
    maildir.type = MailStoreEntry::Type::Maildir;
    maildir.path = QFileInfo(path).absoluteFilePath();
    maildir.name = QDir(maildir.path).dirName();
    if (!isValidStoreName(maildir.name))
        maildir.name = QStringLiteral("Maildir");
    writeMailStoreEntries({maildir});
    return true;
}

QStringList registeredMaildirs()
{
    QStringList maildirs;
    for (const MailStoreEntry &entry : readMailStoreEntries()) {
        if (entry.type == MailStoreEntry::Type::Maildir)
            maildirs << entry.path;
    }
    return maildirs;
}

MailStoreEntry storeFromArgument(const QString &argument)
{
    if (const auto account = accountFromAddress(argument))
        return *account;
    for (const MailStoreEntry &entry : readMailStoreEntries()) {
        if (entry.name.compare(argument, Qt::CaseInsensitive) == 0)
            return entry;
    }
    MailStoreEntry maildir;
    maildir.type = MailStoreEntry::Type::Maildir;
    maildir.path = argument;
    maildir.name = QDir(argument).dirName();
    return maildir;
}

QList<MailStoreEntry> chosenStores(const QStringList &arguments)
{
    QList<MailStoreEntry> stores;
    for (const QString &argument : arguments)
        stores << storeFromArgument(argument);
    if (stores.isEmpty())
        stores = readMailStoreEntries();
    if (stores.isEmpty())
        stores << storeFromArgument(defaultMaildir());
    return stores;
}

ApplicationFactory configuredStores(const QStringList &arguments, SummaryCaching caching,
                                    PasswordSource passwords)
{
    const QString cachePath =
        caching == SummaryCaching::Kept ? maildir::SummaryCache::defaultPath() : QString();
    return [arguments, cachePath, passwords]() -> std::shared_ptr<Application> {
        QStringList maildirs;
        std::vector<ApplicationFactory> accounts;
        for (const MailStoreEntry &store : chosenStores(arguments)) {
            if (store.type == MailStoreEntry::Type::Maildir)
                maildirs << store.path;
            else
                accounts.push_back(imapstore::accountFactory(store, passwords));
        }
        // The Maildirs come first, as one store: the default Inbox stays theirs.
        std::vector<ApplicationFactory> parts;
        if (!maildirs.isEmpty())
            parts.push_back(maildir::storeFactory(maildirs, cachePath));
        parts.insert(parts.end(), accounts.begin(), accounts.end());
        return combinedStores(std::move(parts))();
    };
}

} // namespace mailstore
