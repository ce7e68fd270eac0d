#include "MemoryStore.h"

#include "common/Error.h"

#include <QFile>

#include <functional>

using namespace mailstore;

namespace {

using FolderData = MemoryStore::FolderData;
using ItemData = MemoryStore::ItemData;

// A 1-based collection over a snapshot of members, each made on demand.
template <class T> class MemoryCollection : public Collection<T>
{
public:
    MemoryCollection(MemoryStore *store, QString key, int count,
                     std::function<std::shared_ptr<T>(int)> make)
        : m_store(store), m_key(std::move(key)), m_count(count), m_make(std::move(make))
    {
    }
    int count() override
    {
        m_store->call(m_key, QStringLiteral("count"));
        return m_count;
    }
    std::shared_ptr<T> item(int index) override
    {
        m_store->call(m_key, QStringLiteral("item"));
        if (index < 1 || index > m_count)
            throw qb::MailStoreError(QStringLiteral("Array index out of bounds"));
        return m_make(index);
    }

private:
    MemoryStore *m_store;
    QString m_key;
    int m_count;
    std::function<std::shared_ptr<T>(int)> m_make;
};

class MemoryAttachment : public Attachment
{
public:
    MemoryAttachment(MemoryStore *store, std::shared_ptr<ItemData> item, int index)
        : m_store(store), m_item(std::move(item)), m_index(index),
          m_key(m_item->entryId + QLatin1Char('#') + QString::number(index))
    {
    }
    QString filename() override
    {
        m_store->call(m_key, QStringLiteral("filename"));
        return m_item->attachments.at(size_t(m_index - 1)).filename;
    }
    SavedContent saveAsFile(const QString &path) override
    {
        m_store->call(m_key, QStringLiteral("saveAsFile"));
        QFile file(path);
        const MemoryStore::AttachmentData &attachment = m_item->attachments.at(size_t(m_index - 1));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            file.write(attachment.content) != attachment.content.size() || !file.flush())
            throw qb::MailStoreError(
                QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return {attachment.content.size(), attachment.damage};
    }
    // Known without a call: the content is held decoded.
    qint64 decodedSize() override
    {
        return m_item->attachments.at(size_t(m_index - 1)).content.size();
    }
    void remove() override
    {
        m_store->call(m_key, QStringLiteral("delete"));
        m_item->attachments.erase(m_item->attachments.begin() + (m_index - 1));
    }

private:
    MemoryStore *m_store;
    std::shared_ptr<ItemData> m_item;
    int m_index;
    QString m_key;
};

// An object of the store (an email, a folder) whose every operation is recorded
// under its entry id.
template <class Data> class RecordedObject
{
protected:
    RecordedObject(MemoryStore *store, std::shared_ptr<Data> data)
        : m_store(store), m_data(std::move(data))
    {
    }
    template <class T> T get(const QString &operation, const T &value)
    {
        m_store->call(m_data->entryId, operation);
        return value;
    }

    MemoryStore *m_store;
    std::shared_ptr<Data> m_data;
};

class MemoryItem : public Item, private RecordedObject<ItemData>
{
public:
    MemoryItem(MemoryStore *store, std::shared_ptr<ItemData> data)
        : RecordedObject(store, std::move(data))
    {
    }
    QString subject() override { return get(QStringLiteral("subject"), m_data->subject); }
    QString senderName() override { return get(QStringLiteral("senderName"), m_data->senderName); }
    QString entryId() override { return get(QStringLiteral("entryId"), m_data->entryId); }
    qint64 size() override { return get(QStringLiteral("size"), m_data->size); }
    QDateTime receivedTime() override
    {
        return get(QStringLiteral("receivedTime"), m_data->receivedTime);
    }
    QString body() override { return get(QStringLiteral("body"), m_data->body); }
    QString unchangeableReason() override
    {
        return get(QStringLiteral("unchangeableReason"), m_data->unchangeableReason);
    }
    void appendToBody(const QString &text) override
    {
        m_store->call(m_data->entryId, QStringLiteral("appendToBody"));
        m_data->body += text;
    }
    void save() override
    {
        m_store->call(m_data->entryId, QStringLiteral("save"));
        ++m_data->saveCount;
    }
    // A refused save stored nothing.
    bool unchangedAfterFailedSave() override { return true; }
    std::shared_ptr<Attachments> attachments() override
    {
        m_store->call(m_data->entryId, QStringLiteral("attachments"));
        auto data = m_data;
        MemoryStore *store = m_store;
        return std::make_shared<MemoryCollection<Attachment>>(
            m_store, m_data->entryId + QStringLiteral("/attachments"),
            int(m_data->attachments.size()), [store, data](int index) {
                return std::make_shared<MemoryAttachment>(store, data, index);
            });
    }
};

std::shared_ptr<Folders> folderCollection(MemoryStore *store, const QString &key,
                                          const std::vector<std::shared_ptr<FolderData>> &list);

class MemoryFolder : public Folder, private RecordedObject<FolderData>
{
public:
    MemoryFolder(MemoryStore *store, std::shared_ptr<FolderData> data)
        : RecordedObject(store, std::move(data))
    {
    }
    QString name() override { return get(QStringLiteral("name"), m_data->name); }
    QString entryId() override { return get(QStringLiteral("entryId"), m_data->entryId); }
    QStringList skippedEntries() override { return {}; }
    QString storeId() override { return get(QStringLiteral("storeId"), m_data->storeId); }
    int defaultItemType() override
    {
        return get(QStringLiteral("defaultItemType"), m_data->defaultItemType);
    }
    std::shared_ptr<Items> items() override
    {
        m_store->call(m_data->entryId, QStringLiteral("items"));
        auto data = m_data;
        MemoryStore *store = m_store;
        return std::make_shared<MemoryCollection<Item>>(
            m_store, m_data->entryId + QStringLiteral("/items"), int(m_data->items.size()),
            [store, data](int index) {
                return std::make_shared<MemoryItem>(store, data->items.at(size_t(index - 1)));
            });
    }
    std::shared_ptr<Folders> folders() override
    {
        m_store->call(m_data->entryId, QStringLiteral("folders"));
        return folderCollection(m_store, m_data->entryId + QStringLiteral("/folders"),
                                m_data->folders);
    }
};

std::shared_ptr<Folders> folderCollection(MemoryStore *store, const QString &key,
                                          const std::vector<std::shared_ptr<FolderData>> &list)
{
    return std::make_shared<MemoryCollection<Folder>>(
        store, key, int(list.size()), [store, list](int index) {
            return std::make_shared<MemoryFolder>(store, list.at(size_t(index - 1)));
        });
}

class MemoryNamespace : public Namespace
{
public:
    explicit MemoryNamespace(MemoryStore *store) : m_store(store) {}
    std::shared_ptr<Folders> folders() override
    {
        m_store->call(QStringLiteral("namespace"), QStringLiteral("folders"));
        return folderCollection(m_store, QStringLiteral("namespace/folders"), m_store->stores());
    }
    std::shared_ptr<Folder> getDefaultFolder(int folderType) override
    {
        m_store->call(QStringLiteral("namespace"), QStringLiteral("getDefaultFolder"));
        if (folderType != DefaultInbox || !m_store->defaultInbox())
            return nullptr;
        return std::make_shared<MemoryFolder>(m_store, m_store->defaultInbox());
    }
    std::shared_ptr<Folder> getFolderFromId(const QString &entryId, const QString &) override
    {
        m_store->call(QStringLiteral("namespace"), QStringLiteral("getFolderFromId"));
        const auto data = m_store->findFolder(entryId);
        return data ? std::make_shared<MemoryFolder>(m_store, data) : nullptr;
    }
    std::shared_ptr<Item> getItemFromId(const QString &entryId, const QString &) override
    {
        m_store->call(QStringLiteral("namespace"), QStringLiteral("getItemFromId"));
        const auto data = m_store->findItem(entryId);
        return data ? std::make_shared<MemoryItem>(m_store, data) : nullptr;
    }
    void lockForChanges(const std::function<bool(int)> &) override
    {
        m_store->call(QStringLiteral("namespace"), QStringLiteral("lockForChanges"));
    }

private:
    MemoryStore *m_store;
};

class MemoryApplication : public Application
{
public:
    explicit MemoryApplication(MemoryStore *store) : m_store(store) {}
    std::shared_ptr<Namespace> getNamespace(const QString &type) override
    {
        m_store->call(QStringLiteral("application"), QStringLiteral("getNamespace"));
        if (type != QLatin1String("MAPI"))
            throw qb::MailStoreError(QStringLiteral("Unknown namespace type %1").arg(type));
        return std::make_shared<MemoryNamespace>(m_store);
    }

private:
    MemoryStore *m_store;
};

template <class Visit>
std::shared_ptr<FolderData> searchFolders(const std::vector<std::shared_ptr<FolderData>> &folders,
                                          const Visit &matches)
{
    for (const auto &folder : folders) {
        if (matches(*folder))
            return folder;
        if (auto found = searchFolders(folder->folders, matches))
            return found;
    }
    return nullptr;
}

} // namespace

std::shared_ptr<FolderData> MemoryStore::addStore(const QString &name)
{
    QMutexLocker lock(&m_mutex);
    auto folder = std::make_shared<FolderData>();
    folder->name = name;
    folder->storeId = QStringLiteral("store-%1").arg(m_nextId);
    folder->entryId = QStringLiteral("folder-%1").arg(m_nextId++);
    m_stores.push_back(folder);
    return folder;
}

std::shared_ptr<FolderData> MemoryStore::addFolder(const std::shared_ptr<FolderData> &parent,
                                                   const QString &name, int defaultItemType)
{
    QMutexLocker lock(&m_mutex);
    auto folder = std::make_shared<FolderData>();
    folder->name = name;
    folder->storeId = parent->storeId;
    folder->entryId = QStringLiteral("folder-%1").arg(m_nextId++);
    folder->defaultItemType = defaultItemType;
    parent->folders.push_back(folder);
    return folder;
}

std::shared_ptr<ItemData> MemoryStore::addItem(const std::shared_ptr<FolderData> &folder,
                                               const QString &subject,
                                               const QStringList &attachmentNames)
{
    QMutexLocker lock(&m_mutex);
    auto item = std::make_shared<ItemData>();
    item->entryId = QStringLiteral("item-%1").arg(m_nextId++);
    item->subject = subject;
    item->senderName = QStringLiteral("Sender of ") + subject;
    item->size = 1000 * m_nextId;
    item->receivedTime = QDateTime(QDate(2024, 1, 1), QTime(12, 0)).addDays(m_nextId);
    for (const QString &name : attachmentNames)
        item->attachments.push_back({name, (QStringLiteral("content of ") + name).toUtf8(), {}});
    folder->items.push_back(item);
    return item;
}

void MemoryStore::setDefaultInbox(const std::shared_ptr<FolderData> &folder)
{
    QMutexLocker lock(&m_mutex);
    m_defaultInbox = folder;
}

void MemoryStore::failOn(const QString &objectKey, const QString &operation, const QString &message)
{
    QMutexLocker lock(&m_mutex);
    m_failures.insert(objectKey + QLatin1Char('.') + operation, message);
}

QStringList MemoryStore::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

void MemoryStore::call(const QString &objectKey, const QString &operation)
{
    QMutexLocker lock(&m_mutex);
    const QString key = objectKey + QLatin1Char('.') + operation;
    m_calls.append(key);
    const auto failure = m_failures.constFind(key);
    if (failure != m_failures.cend())
        throw qb::MailStoreError(*failure);
}

std::shared_ptr<FolderData> MemoryStore::findFolder(const QString &entryId) const
{
    QMutexLocker lock(&m_mutex);
    return searchFolders(m_stores, [&](const FolderData &f) { return f.entryId == entryId; });
}

std::shared_ptr<ItemData> MemoryStore::findItem(const QString &entryId) const
{
    QMutexLocker lock(&m_mutex);
    std::shared_ptr<ItemData> found;
    searchFolders(m_stores, [&](const FolderData &folder) {
        for (const auto &item : folder.items) {
            if (item->entryId == entryId)
                found = item;
        }
        return bool(found);
    });
    return found;
}

ApplicationFactory MemoryStore::factory()
{
    return [this]() -> std::shared_ptr<Application> {
        call(QStringLiteral("application"), QStringLiteral("create"));
        return std::make_shared<MemoryApplication>(this);
    };
}
