#include "MaildirStore.h"

#include "MaildirItem.h"
#include "MaildirSession.h"
#include "common/Error.h"

#include <QFileInfo>

using namespace mailstore;

namespace maildir {

namespace {

class MaildirFolder;

class FolderCollection : public Folders
{
public:
    FolderCollection(std::shared_ptr<Session> session, std::shared_ptr<const Session::Store> store,
                     std::vector<std::shared_ptr<FolderNode>> nodes)
        : m_session(std::move(session)), m_store(std::move(store)), m_nodes(std::move(nodes))
    {
    }
    int count() override { return int(m_nodes.size()); }
    std::shared_ptr<Folder> item(int index) override;

private:
    std::shared_ptr<Session> m_session;
    std::shared_ptr<const Session::Store> m_store; // null for the stores' top folders
    std::vector<std::shared_ptr<FolderNode>> m_nodes;
};

class ItemCollection : public Items
{
public:
    ItemCollection(std::shared_ptr<Session> session, std::shared_ptr<const Session::Store> store,
                   QString folderEntryId, std::shared_ptr<FolderNode> node)
        : m_session(std::move(session)), m_store(std::move(store)),
          m_folderEntryId(std::move(folderEntryId)), m_node(std::move(node)),
          m_listing(m_session->listing(*m_node))
    {
    }
    int count() override { return int(m_listing->files.size()); }
    std::shared_ptr<Item> item(int index) override
    {
        if (index < 1 || index > count())
            throw qb::MailStoreError(QStringLiteral("No email at position %1").arg(index));
        return std::make_shared<MaildirItem>(m_session, m_store, m_node, m_folderEntryId,
                                             m_listing->files[size_t(index - 1)]);
    }

private:
    std::shared_ptr<Session> m_session;
    std::shared_ptr<const Session::Store> m_store;
    QString m_folderEntryId;
    std::shared_ptr<FolderNode> m_node;
    std::shared_ptr<const FolderListing> m_listing;
};

class MaildirFolder : public Folder
{
public:
    MaildirFolder(std::shared_ptr<Session> session, std::shared_ptr<const Session::Store> store,
                  std::shared_ptr<FolderNode> node)
        : m_session(std::move(session)), m_store(std::move(store)), m_node(std::move(node))
    {
    }
    QString name() override { return m_node->name; }
    QString entryId() override { return Session::folderEntryId(*m_store, *m_node); }
    QString storeId() override { return m_store->id; }
    int defaultItemType() override { return MailItemType; }
    std::shared_ptr<Items> items() override
    {
        // One listing per folder object: the walk asks for it once per email.
        if (!m_items)
            m_items = std::make_shared<ItemCollection>(m_session, m_store, entryId(), m_node);
        return m_items;
    }
    std::shared_ptr<Folders> folders() override
    {
        return std::make_shared<FolderCollection>(m_session, m_store, m_node->children);
    }
    QStringList skippedEntries() override
    {
        QStringList lines;
        const auto describe = [&lines](const SkippedEntry &entry) {
            lines << QStringLiteral("Skipped %1: %2").arg(entry.path, entry.reason);
        };
        if (m_node->directory.isEmpty())
            return lines;
        for (const SkippedEntry &entry : m_session->listing(*m_node)->skipped)
            describe(entry);
        // Folders left out of the scan are told by the folder that holds them.
        if (const auto &scan = m_store->top->scan) {
            for (const SkippedEntry &entry : scan->skipped) {
                if (QFileInfo(entry.path).path() == m_node->directory)
                    describe(entry);
            }
        }
        return lines;
    }

private:
    std::shared_ptr<Session> m_session;
    std::shared_ptr<const Session::Store> m_store;
    std::shared_ptr<FolderNode> m_node;
    std::shared_ptr<Items> m_items;
};

std::shared_ptr<Folder> FolderCollection::item(int index)
{
    if (index < 1 || index > count())
        throw qb::MailStoreError(QStringLiteral("No folder at position %1").arg(index));
    if (m_store)
        return std::make_shared<MaildirFolder>(m_session, m_store, m_nodes[size_t(index - 1)]);
    const auto &store = m_session->stores().at(size_t(index - 1));
    return std::make_shared<MaildirFolder>(m_session, store, store->top);
}

class MaildirNamespace : public Namespace
{
public:
    explicit MaildirNamespace(std::shared_ptr<Session> session) : m_session(std::move(session)) {}

    std::shared_ptr<Folders> folders() override
    {
        std::vector<std::shared_ptr<FolderNode>> tops;
        for (const auto &store : m_session->stores())
            tops.push_back(store->top);
        return std::make_shared<FolderCollection>(m_session, nullptr, tops);
    }

    std::shared_ptr<Folder> getDefaultFolder(int folderType) override
    {
        const auto &stores = m_session->stores();
        if (folderType != DefaultInbox || stores.empty())
            return nullptr;
        const auto inbox = inboxOf(*stores.front()->top);
        return inbox ? std::make_shared<MaildirFolder>(m_session, stores.front(), inbox) : nullptr;
    }

    std::shared_ptr<Folder> getFolderFromId(const QString &entryId, const QString &storeId) override
    {
        std::shared_ptr<const Session::Store> store;
        const auto node = m_session->folderFromId(entryId, &store);
        if (!node || (!storeId.isEmpty() && store->id != storeId))
            return nullptr;
        return std::make_shared<MaildirFolder>(m_session, store, node);
    }

    std::shared_ptr<Item> getItemFromId(const QString &entryId, const QString &storeId) override
    {
        QString folderId;
        QString uniqueName;
        if (!Session::splitItemEntryId(entryId, &folderId, &uniqueName))
            return nullptr;
        std::shared_ptr<const Session::Store> store;
        const auto node = m_session->folderFromId(folderId, &store);
        if (!node || (!storeId.isEmpty() && store->id != storeId))
            return nullptr;
        const auto file = MaildirItem::findFile(*m_session, *node, uniqueName);
        if (!file)
            return nullptr;
        return std::make_shared<MaildirItem>(m_session, store, node, folderId, *file);
    }

    void lockForChanges(const std::function<bool(int)> &stillWaiting) override
    {
        m_session->lockForChanges(stillWaiting);
    }

private:
    std::shared_ptr<Session> m_session;
};

class MaildirApplication : public Application
{
public:
    MaildirApplication(const QStringList &roots, const QString &summaryCachePath)
        : m_session(std::make_shared<Session>(roots, summaryCachePath))
    {
    }
    std::shared_ptr<Namespace> getNamespace(const QString &type) override
    {
        if (type.compare(QLatin1String("MAPI"), Qt::CaseInsensitive) != 0)
            throw qb::MailStoreError(QStringLiteral("Unknown namespace type %1").arg(type));
        return std::make_shared<MaildirNamespace>(m_session);
    }

private:
    std::shared_ptr<Session> m_session;
};

} // namespace

ApplicationFactory storeFactory(const QStringList &roots, const QString &summaryCachePath)
{
    return [roots, summaryCachePath]() -> std::shared_ptr<Application> {
        return std::make_shared<MaildirApplication>(roots, summaryCachePath);
    };
}

} // namespace maildir
