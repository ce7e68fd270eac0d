#include "AccountSession.h"

#include "RemoteReplacement.h"
#include "ReplacementJournal.h"
#include "common/Error.h"
#include "common/FileSystem.h"
#include "imap/ImapError.h"
#include "imap/ModifiedUtf7.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace imapstore {

namespace {

imap::Security securityOf(MailStoreEntry::Security security)
{
    switch (security) {
    case MailStoreEntry::Security::StartTls:
        return imap::Security::StartTls;
    case MailStoreEntry::Security::Plain:
        return imap::Security::Plain;
    case MailStoreEntry::Security::Tls:
        break;
    }
    return imap::Security::Tls;
}

bool hasFlag(const imap::Value &flags, QByteArrayView flag)
{
    for (const imap::Value &each : flags.list) {
        if (QByteArrayView(each.text).compare(flag, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Messages are fetched this many at a time: an answer never grows with the folder, and a
// cancel or a drop loses at most one batch.
constexpr qint64 fetchBatch = 2000;

} // namespace

QString storeIdOf(const MailStoreEntry &account)
{
    return QStringLiteral("imap://%1@%2:%3").arg(account.user, account.host).arg(account.port);
}

AccountSession::AccountSession(MailStoreEntry account, mailstore::PasswordSource passwords,
                               std::function<bool()> cancelled)
    : m_account(std::move(account)), m_passwords(std::move(passwords)),
      m_cancelled(std::move(cancelled)), m_storeId(storeIdOf(m_account))
{
}

AccountSession::~AccountSession()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void AccountSession::open()
{
    const std::optional<QString> password = m_passwords ? m_passwords(m_account) : std::nullopt;
    if (!password) {
        throw qb::MailStoreError(
            QStringLiteral("No password was given for %1").arg(m_account.accountText()));
    }
    imap::TlsTrust trust;
    trust.trustedFingerprint = m_account.trustedFingerprint;
    m_selected.clear();
    if (m_connection)
        m_alerts += m_connection->takeAlerts();
    m_connection.reset();
    auto connection = std::make_unique<imap::Connection>(
        imap::ServerAddress{m_account.host, m_account.port, securityOf(m_account.security)}, trust,
        [this] { return cancelRequested(); });
    try {
        connection->open({m_account.user, *password});
    } catch (const qb::LoginRefused &refused) {
        // Named, so that the user can be asked for this account's password again.
        throw qb::LoginRefused(refused.message(), m_account.passwordKey());
    }
    m_connection = std::move(connection);
}

QStringList AccountSession::takeAlerts()
{
    QStringList alerts = std::exchange(m_alerts, {});
    if (m_connection)
        alerts += m_connection->takeAlerts();
    return alerts;
}

bool AccountSession::cancelRequested() const
{
    if (m_cancelShields > 0)
        return false;
    return m_cancelled ? m_cancelled() : QThread::currentThread()->isInterruptionRequested();
}

imap::Connection &AccountSession::connection()
{
    if (m_connection && m_connection->isOpen())
        return *m_connection;
    const bool dropped = bool(m_connection);
    if (dropped && m_reopened) {
        throw imap::ConnectionError(
            QStringLiteral("The connection to %1 was lost again").arg(m_account.accountText()));
    }
    open();
    if (dropped) {
        // Once per session: a server that keeps dropping the connection ends the work.
        m_reopened = true;
        if (m_lockFd >= 0)
            finishInterruptedReplacements();
    }
    return *m_connection;
}

const std::vector<Mailbox> &AccountSession::mailboxes()
{
    if (m_mailboxes)
        return *m_mailboxes;
    imap::Connection &server = connection();
    const QByteArray separator = server.hierarchySeparator();
    std::vector<Mailbox> found;
    QHash<QString, size_t> indexOfName;
    imap::Command list("LIST");
    list.string("").string("*");
    server.run(list, [&](const imap::Response &response) {
        if (response.name != "LIST" || response.values.size() < 3)
            return;
        const imap::Value &flags = response.values.at(0);
        Mailbox mailbox;
        mailbox.name = imap::decodeMailboxName(response.values.at(2).text);
        const QByteArray own = response.values.at(1).nstring();
        mailbox.levels =
            own.isEmpty() ? QStringList{mailbox.name} : mailbox.name.split(QString::fromUtf8(own));
        // Servers that keep every folder under "INBOX." show them as the Inbox's subfolders,
        // as mail programs do, rather than beside an Inbox of the same name.
        if (mailbox.levels.front().compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0)
            mailbox.levels.front() = QStringLiteral("Inbox");
        mailbox.selectable = !hasFlag(flags, "\\Noselect") && !hasFlag(flags, "\\NonExistent");
        if (indexOfName.contains(mailbox.name))
            return;
        indexOfName.insert(mailbox.name, found.size());
        found.push_back(std::move(mailbox));
    });
    // Parents that LIST left out still hold their children.
    const size_t listed = found.size();
    const QString separatorText = QString::fromUtf8(separator);
    for (size_t i = 0; i < listed; ++i) {
        const QStringList levels = found[i].levels;
        const QStringList nameLevels = separatorText.isEmpty() ? QStringList{found[i].name}
                                                               : found[i].name.split(separatorText);
        for (qsizetype depth = 1; depth < levels.size() && depth < nameLevels.size(); ++depth) {
            const QString parentName = nameLevels.mid(0, depth).join(separatorText);
            if (indexOfName.contains(parentName))
                continue;
            indexOfName.insert(parentName, found.size());
            found.push_back({parentName, levels.mid(0, depth), false});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Mailbox &a, const Mailbox &b) {
        const bool aInbox = a.levels.front() == QLatin1String("Inbox") && a.levels.size() == 1;
        const bool bInbox = b.levels.front() == QLatin1String("Inbox") && b.levels.size() == 1;
        return aInbox && !bInbox;
    });
    m_mailboxes = std::move(found);
    return *m_mailboxes;
}

qint64 AccountSession::select(const QString &mailbox, bool forChanges)
{
    imap::Connection &server = connection();
    if (m_selected == mailbox && (m_selectedForChanges || !forChanges))
        return m_selectedValidity;
    m_selected.clear();
    qint64 validity = 0;
    qint64 exists = 0;
    // SELECT also for reading: Courier numbers a folder's messages afresh, with a new
    // UIDVALIDITY, at each EXAMINE until the folder has once been selected, and the UIDs
    // that an analysis lists must still name the same messages when a job acts on them.
    // Reading fetches with BODY.PEEK, so no message is marked as seen.
    imap::Command command("SELECT");
    command.mailbox(mailbox);
    server.run(command, [&](const imap::Response &response) {
        if (response.code == "UIDVALIDITY" && !response.codeArgs.empty())
            validity = response.codeArgs.front().number();
        if (response.name == "EXISTS")
            exists = response.number;
    });
    m_selectedExists = exists;
    m_selected = mailbox;
    m_selectedForChanges = forChanges;
    m_selectedValidity = validity;
    return validity;
}

void AccountSession::selectSame(const QString &mailbox, bool forChanges, qint64 uidValidity)
{
    if (select(mailbox, forChanges) != uidValidity) {
        throw qb::MailStoreError(
            QStringLiteral("The server renumbered the folder %1 since it was read (its "
                           "UIDVALIDITY changed); its emails are left as they are until it is "
                           "analysed again")
                .arg(mailbox));
    }
}

std::shared_ptr<const MailboxMessages> AccountSession::messages(const QString &mailbox)
{
    if (const auto known = m_messages.value(mailbox))
        return known;
    auto read = std::make_shared<MailboxMessages>();
    // Selected afresh for the number of messages now: mail arriving meanwhile waits for
    // the next analysis.
    m_selected.clear();
    try {
        read->uidValidity = select(mailbox, false);
    } catch (const imap::CommandFailed &e) {
        // A folder listed but not to be opened (no right to read it, a shared folder gone)
        // is left out with a word; the rest of the account is still read.
        read->skipped << QStringLiteral("The folder %1 of %2 was skipped: the server refused "
                                        "to open it: %3")
                             .arg(mailbox, m_account.accountText(),
                                  QString::fromUtf8(e.serverText()));
        m_messages.insert(mailbox, read);
        return read;
    }
    const qint64 exists = m_selectedExists;
    imap::Connection &server = connection();
    qint64 deleted = 0;
    QSet<qint64> uids;
    for (qint64 first = 1; first <= exists; first += fetchBatch) {
        const qint64 last = std::min(exists, first + fetchBatch - 1);
        imap::Command fetch("FETCH");
        fetch.atom(QByteArray::number(first) + ':' + QByteArray::number(last))
            .raw(' ' + summaryFetchItems());
        QSet<qint64> numbers;
        server.run(fetch, [&](const imap::Response &response) {
            // Only the messages asked for, each once: anything else the server sends
            // (unasked, or again) is no message of this batch.
            if (response.name != "FETCH" || response.number < first || response.number > last ||
                numbers.contains(response.number))
                return;
            if (!response.unreadable.isEmpty()) {
                numbers.insert(response.number);
                read->skipped << QStringLiteral("Message %1 of %2: %3")
                                     .arg(response.number)
                                     .arg(mailbox, response.unreadable);
                return;
            }
            if (!imap::fetchItem(response, "BODYSTRUCTURE"))
                return;
            numbers.insert(response.number);
            try {
                RemoteMessage message = readRemoteMessage(response, &m_memo);
                if (uids.contains(message.uid))
                    return;
                uids.insert(message.uid);
                // On its way out: a server without UIDPLUS leaves replaced originals so,
                // and a job must not take them for emails to change again.
                if (message.deleted)
                    ++deleted;
                else
                    read->messages.push_back(std::move(message));
            } catch (const qb::MailStoreError &e) {
                // One message the server describes in a way that cannot be read is left
                // out with a word; the rest of the folder is still listed.
                read->skipped << QStringLiteral("Message %1 of %2: %3")
                                     .arg(response.number)
                                     .arg(mailbox, e.message());
            }
        });
    }
    if (deleted > 0) {
        read->skipped << QStringLiteral("%1 message(s) of %2 marked deleted were left out")
                             .arg(deleted)
                             .arg(mailbox);
    }
    m_messages.insert(mailbox, read);
    return read;
}

void AccountSession::recordReplacement(const QString &mailbox, qint64 oldUid, qint64 newUid)
{
    m_replacements.insert(mailbox + QLatin1Char('\n') + QString::number(oldUid), newUid);
}

qint64 AccountSession::currentUid(const QString &mailbox, qint64 uid) const
{
    qint64 current = uid;
    // A message replaced twice in one session follows both steps.
    for (int step = 0; step < 64; ++step) {
        const auto next =
            m_replacements.constFind(mailbox + QLatin1Char('\n') + QString::number(current));
        if (next == m_replacements.cend())
            break;
        current = *next;
    }
    return current;
}

ReplacementJournal &AccountSession::journal()
{
    if (!m_journal)
        m_journal = std::make_unique<ReplacementJournal>(ReplacementJournal::pathFor(m_storeId));
    return *m_journal;
}

void AccountSession::lockForChanges(const std::function<bool(int)> &stillWaiting)
{
    if (m_lockFd >= 0)
        return;
    const QString lockPath = ReplacementJournal::pathFor(m_storeId) + QStringLiteral(".lock");
    QDir().mkpath(QFileInfo(lockPath).absolutePath());
    const int fd = ::open(QFile::encodeName(lockPath).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        throw qb::MailStoreError(QStringLiteral("Cannot lock the account %1: %2")
                                     .arg(m_account.accountText(), qb::systemErrorText()));
    }
    int waited = 0;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || !stillWaiting(waited)) {
            ::close(fd);
            throw qb::MailStoreError(QStringLiteral("Another program is changing the account %1")
                                         .arg(m_account.accountText()));
        }
        QThread::sleep(1);
        ++waited;
    }
    m_lockFd = fd;
    finishInterruptedReplacements();
}

void AccountSession::finishInterruptedReplacements()
{
    const CancelShield shield(*this);
    for (const PendingReplacement &replacement : journal().pending())
        finishReplacement(*this, replacement);
}

} // namespace imapstore
