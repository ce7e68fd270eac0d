#include "ImapStore.h"

#include "AccountSession.h"
#include "ImapItem.h"
#include "common/Error.h"
#include "imap/ImapError.h"

namespace imapstore {

namespace {

using mailstore::Folder;
using mailstore::Folders;
using mailstore::Item;
using mailstore::Items;

// A place in the account's folder tree: the top folder (no mailbox) or one mailbox.
struct FolderNode
{
    QString name;
    QString mailbox; // the server's full name; empty for the top folder
    bool selectable = false;
    bool listed = true; // false for the top folder until the server has listed its folders
    std::vector<std::shared_ptr<FolderNode>> children;
};

std::shared_ptr<FolderNode> buildTree(const MailStoreEntry &account,
                                      const std::vector<Mailbox> &mailboxes)
{
    auto top = std::make_shared<FolderNode>();
    top->name = account.name;
    QHash<QString, std::shared_ptr<FolderNode>> byPath;
    for (const Mailbox &mailbox : mailboxes) {
        std::shared_ptr<FolderNode> parent = top;
        QString path;
        for (qsizetype level = 0; level < mailbox.levels.size(); ++level) {
            path += QLatin1Char('\n') + mailbox.levels.at(level);
            auto &node = byPath[path];
            if (!node) {
                node = std::make_shared<FolderNode>();
                node->name = mailbox.levels.at(level);
                parent->children.push_back(node);
            }
            if (level == mailbox.levels.size() - 1) {
                node->mailbox = mailbox.name;
                node->selectable = mailbox.selectable;
            }
            parent = node;
        }
    }
    return top;
}

class ImapItems : public Items
{
public:
    ImapItems(std::shared_ptr<AccountSession> session, QString mailbox, QString folderEntryId,
              std::shared_ptr<const MailboxMessages> messages)
        : m_session(std::move(session)), m_mailbox(std::move(mailbox)),
          m_folderEntryId(std::move(folderEntryId)), m_messages(std::move(messages))
    {
    }

    int count() override { return m_messages ? int(m_messages->messages.size()) : 0; }

    std::shared_ptr<Item> item(int index) override
    {
        if (index < 1 || index > count())
            throw qb::MailStoreError(QStringLiteral("No email at position %1").arg(index));
        return std::make_shared<ImapItem>(m_session, m_mailbox, m_folderEntryId,
                                          m_messages->uidValidity,
                                          m_messages->messages[size_t(index - 1)]);
    }

private:
    std::shared_ptr<AccountSession> m_session;
    QString m_mailbox;
    QString m_folderEntryId;
    std::shared_ptr<const MailboxMessages> m_messages;
};

class Tree;

class ImapFolders : public Folders
{
public:
    ImapFolders(std::shared_ptr<AccountSession> session, std::shared_ptr<Tree> tree,
                std::vector<std::shared_ptr<FolderNode>> nodes)
        : m_session(std::move(session)), m_tree(std::move(tree)), m_nodes(std::move(nodes))
    {
    }
    int count() override { return int(m_nodes.size()); }
    std::shared_ptr<Folder> item(int index) override;

private:
    std::shared_ptr<AccountSession> m_session;
    std::shared_ptr<Tree> m_tree;
    std::vector<std::shared_ptr<FolderNode>> m_nodes;
};

class ImapFolder : public Folder
{
public:
    ImapFolder(std::shared_ptr<AccountSession> session, std::shared_ptr<Tree> tree,
               std::shared_ptr<FolderNode> node)
        : m_session(std::move(session)), m_tree(std::move(tree)), m_node(std::move(node))
    {
    }

    QString name() override { return m_node->name; }
    QString entryId() override { return entryIdOf(*m_session, m_node->mailbox); }
    QString storeId() override { return m_session->storeId(); }
    int defaultItemType() override { return mailstore::MailItemType; }

    std::shared_ptr<Items> items() override
    {
        if (!m_node->selectable)
            return std::make_shared<ImapItems>(m_session, m_node->mailbox, entryId(), nullptr);
        try {
            return std::make_shared<ImapItems>(m_session, m_node->mailbox, entryId(),
                                               m_session->messages(m_node->mailbox));
        } catch (const imap::Cancelled &) {
            throw;
        } catch (const qb::LoginRefused &) {
            throw; // names the account already, and the caller may ask for its password again
        } catch (const qb::MailStoreError &e) {
            throw qb::MailStoreError(
                QStringLiteral("Cannot read the folder %1 of %2: %3")
                    .arg(m_node->mailbox, m_session->account().accountText(), e.message()));
        }
    }

    std::shared_ptr<Folders> folders() override;

    // Messages the server described in a way that cannot be read; asked after items(), so
    // the folder's messages are known by then.
    QStringList skippedEntries() override
    {
        return m_node->selectable ? m_session->messages(m_node->mailbox)->skipped : QStringList();
    }

    static QString entryIdOf(const AccountSession &session, const QString &mailbox)
    {
        return session.storeId() + QStringLiteral("//") + mailbox;
    }

private:
    std::shared_ptr<AccountSession> m_session;
    std::shared_ptr<Tree> m_tree;
    std::shared_ptr<FolderNode> m_node;
};

std::shared_ptr<Folder> ImapFolders::item(int index)
{
    if (index < 1 || index > count())
        throw qb::MailStoreError(QStringLiteral("No folder at position %1").arg(index));
    return std::make_shared<ImapFolder>(m_session, m_tree, m_nodes[size_t(index - 1)]);
}

// The account's folders, listed by the server when first needed, once per session.
class Tree
{
public:
    explicit Tree(std::shared_ptr<AccountSession> session)
        : m_session(std::move(session)), m_top(std::make_shared<FolderNode>())
    {
        m_top->name = m_session->account().name;
        m_top->listed = false;
    }

    // The top folder, its folders perhaps not yet listed.
    const std::shared_ptr<FolderNode> &top() const { return m_top; }

    void list(FolderNode &node)
    {
        if (node.listed)
            return;
        try {
            node.children = buildTree(m_session->account(), m_session->mailboxes())->children;
        } catch (const imap::Cancelled &) {
            throw;
        } catch (const qb::LoginRefused &) {
            throw; // names the account already, and the caller may ask for its password again
        } catch (const qb::MailStoreError &e) {
            throw qb::MailStoreError(QStringLiteral("Cannot list the folders of %1: %2")
                                         .arg(m_session->account().accountText(), e.message()));
        }
        node.listed = true;
    }

    std::shared_ptr<FolderNode> find(const QString &mailbox)
    {
        list(*m_top);
        std::vector<std::shared_ptr<FolderNode>> pending{m_top};
        while (!pending.empty()) {
            std::shared_ptr<FolderNode> node = pending.back();
            pending.pop_back();
            if (node->mailbox == mailbox)
                return node;
            pending.insert(pending.end(), node->children.begin(), node->children.end());
        }
        return nullptr;
    }

private:
    std::shared_ptr<AccountSession> m_session;
    std::shared_ptr<FolderNode> m_top;
};

std::shared_ptr<Folders> ImapFolder::folders()
{
    m_tree->list(*m_node);
    return std::make_shared<ImapFolders>(m_session, m_tree, m_node->children);
}

class ImapNamespace : public mailstore::Namespace
{
public:
    ImapNamespace(std::shared_ptr<AccountSession> session, std::shared_ptr<Tree> tree)
        : m_session(std::move(session)), m_tree(std::move(tree))
    {
    }

    std::shared_ptr<Folders> folders() override
    {
        return std::make_shared<ImapFolders>(
            m_session, m_tree, std::vector<std::shared_ptr<FolderNode>>{m_tree->top()});
    }

    std::shared_ptr<Folder> getDefaultFolder(int folderType) override
    {
        if (folderType != mailstore::DefaultInbox)
            return nullptr;
        const auto inbox = m_tree->find(QStringLiteral("INBOX"));
        return inbox ? std::make_shared<ImapFolder>(m_session, m_tree, inbox) : nullptr;
    }

    std::shared_ptr<Folder> getFolderFromId(const QString &entryId, const QString &storeId) override
    {
        const QString mailbox = mailboxOf(entryId, storeId);
        if (mailbox.isNull())
            return nullptr;
        if (mailbox.isEmpty())
            return std::make_shared<ImapFolder>(m_session, m_tree, m_tree->top());
        const auto node = m_tree->find(mailbox);
        return node ? std::make_shared<ImapFolder>(m_session, m_tree, node) : nullptr;
    }

    std::shared_ptr<Item> getItemFromId(const QString &entryId, const QString &storeId) override
    {
        try {
            return findItem(entryId, storeId);
        } catch (const imap::ConnectionError &) {
            // A connection the server closed while it was idle fails only at its next
            // command, which is this read of the next email: it is read again on a new
            // connection, which the session opens once.
            return findItem(entryId, storeId);
        }
    }

    void lockForChanges(const std::function<bool(int)> &stillWaiting) override
    {
        m_session->lockForChanges(stillWaiting);
    }

    QStringList takeServerAlerts() override { return m_session->takeAlerts(); }

private:
    std::shared_ptr<Item> findItem(const QString &entryId, const QString &storeId)
    {
        QString folderId;
        qint64 validity = 0;
        qint64 uid = 0;
        if (!ImapItem::splitEntryId(entryId, &folderId, &validity, &uid))
            return nullptr;
        const QString mailbox = mailboxOf(folderId, storeId);
        if (mailbox.isEmpty())
            return nullptr;
        // Renumbered since: the id no longer names this message.
        m_session->selectSame(mailbox, false, validity);
        const qint64 current = m_session->currentUid(mailbox, uid);
        imap::Command fetch("UID FETCH");
        fetch.atom(QByteArray::number(current)).raw(' ' + summaryFetchItems());
        std::optional<RemoteMessage> message;
        m_session->connection().run(fetch, [&](const imap::Response &response) {
            const imap::Value *found = imap::fetchItem(response, "UID");
            if (response.name == "FETCH" && found && found->number() == current &&
                imap::fetchItem(response, "BODYSTRUCTURE"))
                message = readRemoteMessage(response, &m_session->headerMemo());
        });
        if (!message)
            return nullptr;
        if (message->deleted)
            throw qb::MailStoreError(QStringLiteral("The email is marked deleted on the server"));
        auto item =
            std::make_shared<ImapItem>(m_session, mailbox, folderId, validity, std::move(*message));
        return item;
    }

    // The mailbox an entry id of this account names: empty for the top folder, a null
    // text when the id is not this account's.
    QString mailboxOf(const QString &entryId, const QString &storeId) const
    {
        if (!storeId.isEmpty() && storeId != m_session->storeId())
            return {};
        const QString prefix = m_session->storeId() + QStringLiteral("//");
        if (!entryId.startsWith(prefix))
            return {};
        const QString mailbox = entryId.mid(prefix.size());
        return mailbox.isNull() ? QString(QLatin1String("")) : mailbox;
    }

    std::shared_ptr<AccountSession> m_session;
    std::shared_ptr<Tree> m_tree;
};

class ImapApplication : public mailstore::Application
{
public:
    ImapApplication(const MailStoreEntry &account, mailstore::PasswordSource passwords)
        : m_session(std::make_shared<AccountSession>(account, std::move(passwords))),
          m_tree(std::make_shared<Tree>(m_session))
    {
    }

    std::shared_ptr<mailstore::Namespace> getNamespace(const QString &type) override
    {
        if (type.compare(QLatin1String("MAPI"), Qt::CaseInsensitive) != 0)
            throw qb::MailStoreError(QStringLiteral("Unknown namespace type %1").arg(type));
        return std::make_shared<ImapNamespace>(m_session, m_tree);
    }

private:
    std::shared_ptr<AccountSession> m_session;
    std::shared_ptr<Tree> m_tree;
};

} // namespace

mailstore::ApplicationFactory accountFactory(const MailStoreEntry &account,
                                             mailstore::PasswordSource passwords)
{
    return [account, passwords]() -> std::shared_ptr<mailstore::Application> {
        return std::make_shared<ImapApplication>(account, passwords);
    };
}

bool isEntryIdOf(const MailStoreEntry &account, const QString &entryId)
{
    return entryId.startsWith(storeIdOf(account) + QStringLiteral("//"));
}

} // namespace imapstore
