#pragma once

#include "RemoteMessage.h"
#include "imap/Connection.h"
#include "mailstore/StoreConfig.h"
#include "mailstore/mime/HeaderMemo.h"

#include <QHash>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace imapstore {

class ReplacementJournal;

// One folder of the account, as LIST names it.
struct Mailbox
{
    QString name;       // the server's full name, decoded ("INBOX", "Projects/2024")
    QStringList levels; // the name split at the hierarchy separator; INBOX shows as "Inbox", also
                        // as a first level
    bool selectable = true; // false for \Noselect and \NonExistent, and for parents LIST left out
};

// The messages of one mailbox, as analysis read them.
struct MailboxMessages
{
    qint64 uidValidity = 0;
    std::vector<RemoteMessage> messages;
    QStringList skipped; // messages that could not be read, one line each with the reason
};

// What the objects of one application share for one IMAP account: the connection, the
// folder list and the messages read so far. Belongs to the thread that created it; the
// connection is opened when first needed and opened again, once, after it dropped.
class AccountSession
{
public:
    // cancelled: asked during every wait for the server; true stops with imap::Cancelled.
    // Without one, an interruption requested of the session's thread (a worker's Cancel)
    // stops.
    AccountSession(MailStoreEntry account, mailstore::PasswordSource passwords,
                   std::function<bool()> cancelled = {});
    ~AccountSession();
    AccountSession(const AccountSession &) = delete;
    AccountSession &operator=(const AccountSession &) = delete;

    const MailStoreEntry &account() const { return m_account; }
    // "imap://user@host:port": unique among stores, and the prefix of every entry id here.
    const QString &storeId() const { return m_storeId; }

    imap::Connection &connection();
    // Every folder of the account, in the server's order with the Inbox first.
    const std::vector<Mailbox> &mailboxes();

    // Selects the mailbox unless it is selected already (for changes, when forChanges);
    // returns its UIDVALIDITY.
    qint64 select(const QString &mailbox, bool forChanges);
    // As select(); throws qb::MailStoreError when the mailbox's UIDVALIDITY is no longer
    // uidValidity: the server renumbered it, and a UID from before names no message.
    void selectSame(const QString &mailbox, bool forChanges, qint64 uidValidity);
    // What the account's header values read as, for reading its messages.
    mime::HeaderMemo &headerMemo() { return m_memo; }
    // The mailbox's messages, fetched when first asked for.
    std::shared_ptr<const MailboxMessages> messages(const QString &mailbox);

    // Within this session, a replaced message's old UID leads to its new one.
    void recordReplacement(const QString &mailbox, qint64 oldUid, qint64 newUid);
    qint64 currentUid(const QString &mailbox, qint64 uid) const;

    // While one lives, Cancel does not cut the session's commands short: a replacement
    // once begun is finished (the commands' deadlines still hold).
    class CancelShield
    {
    public:
        explicit CancelShield(AccountSession &session) : m_session(session)
        {
            ++m_session.m_cancelShields;
        }
        ~CancelShield() { --m_session.m_cancelShields; }
        CancelShield(const CancelShield &) = delete;
        CancelShield &operator=(const CancelShield &) = delete;

    private:
        AccountSession &m_session;
    };

    // The texts of the server's [ALERT]s received since the last call, on every connection.
    QStringList takeAlerts();

    ReplacementJournal &journal();
    // Keeps other copies of this program from changing the account until the session
    // ends, then finishes what an interrupted run left half done.
    void lockForChanges(const std::function<bool(int)> &stillWaiting);

private:
    void open();
    bool cancelRequested() const;
    void finishInterruptedReplacements();

    MailStoreEntry m_account;
    mailstore::PasswordSource m_passwords;
    std::function<bool()> m_cancelled;
    int m_cancelShields = 0; // before the connection, which asks it until it is gone
    QString m_storeId;
    std::unique_ptr<imap::Connection> m_connection;
    QStringList m_alerts; // of connections closed since
    bool m_reopened = false;
    std::optional<std::vector<Mailbox>> m_mailboxes;
    QString m_selected;
    bool m_selectedForChanges = false;
    qint64 m_selectedValidity = 0;
    qint64 m_selectedExists = 0;
    QHash<QString, std::shared_ptr<const MailboxMessages>> m_messages;
    QHash<QString, qint64> m_replacements; // "mailbox\nold uid" -> new uid
    std::unique_ptr<ReplacementJournal> m_journal;
    mime::HeaderMemo m_memo; // what the messages' header values read as, across folders
    int m_lockFd = -1;
};

// The account's storeId for an entry.
QString storeIdOf(const MailStoreEntry &account);

} // namespace imapstore
