#include "CombinedStore.h"

#include "common/Error.h"

#include <utility>

namespace mailstore {

namespace {

using Namespaces = std::vector<std::shared_ptr<Namespace>>;

class CombinedFolders : public Folders
{
public:
    explicit CombinedFolders(std::vector<std::shared_ptr<Folders>> parts)
        : m_parts(std::move(parts))
    {
    }

    int count() override
    {
        int total = 0;
        for (const auto &part : m_parts)
            total += part->count();
        return total;
    }

    std::shared_ptr<Folder> item(int index) override
    {
        int first = 1;
        for (const auto &part : m_parts) {
            const int size = part->count();
            if (index >= first && index < first + size)
                return part->item(index - first + 1);
            first += size;
        }
        throw qb::MailStoreError(QStringLiteral("No folder at position %1").arg(index));
    }

private:
    std::vector<std::shared_ptr<Folders>> m_parts;
};

// What the first store that knows it answers.
template <class Lookup>
auto firstOf(const Namespaces &parts, const Lookup &lookup)
    -> decltype(lookup(std::declval<Namespace &>()))
{
    for (const auto &part : parts) {
        if (auto found = lookup(*part))
            return found;
    }
    return nullptr;
}

class CombinedNamespace : public Namespace
{
public:
    explicit CombinedNamespace(Namespaces parts) : m_parts(std::move(parts)) {}

    std::shared_ptr<Folders> folders() override
    {
        std::vector<std::shared_ptr<Folders>> tops;
        for (const auto &part : m_parts)
            tops.push_back(part->folders());
        return std::make_shared<CombinedFolders>(std::move(tops));
    }

    std::shared_ptr<Folder> getDefaultFolder(int folderType) override
    {
        return firstOf(m_parts, [&](Namespace &part) { return part.getDefaultFolder(folderType); });
    }

    std::shared_ptr<Folder> getFolderFromId(const QString &entryId, const QString &storeId) override
    {
        return firstOf(m_parts,
                       [&](Namespace &part) { return part.getFolderFromId(entryId, storeId); });
    }

    std::shared_ptr<Item> getItemFromId(const QString &entryId, const QString &storeId) override
    {
        return firstOf(m_parts,
                       [&](Namespace &part) { return part.getItemFromId(entryId, storeId); });
    }

    void lockForChanges(const std::function<bool(int)> &stillWaiting) override
    {
        for (const auto &part : m_parts)
            part->lockForChanges(stillWaiting);
    }

    QStringList takeServerAlerts() override
    {
        QStringList alerts;
        for (const auto &part : m_parts)
            alerts += part->takeServerAlerts();
        return alerts;
    }

private:
    Namespaces m_parts;
};

class CombinedApplication : public Application
{
public:
    explicit CombinedApplication(std::vector<std::shared_ptr<Application>> parts)
        : m_parts(std::move(parts))
    {
    }

    std::shared_ptr<Namespace> getNamespace(const QString &type) override
    {
        Namespaces namespaces;
        for (const auto &part : m_parts)
            namespaces.push_back(part->getNamespace(type));
        return std::make_shared<CombinedNamespace>(std::move(namespaces));
    }

private:
    std::vector<std::shared_ptr<Application>> m_parts;
};

} // namespace

ApplicationFactory combinedStores(std::vector<ApplicationFactory> parts)
{
    if (parts.size() == 1)
        return parts.front();
    return [parts]() -> std::shared_ptr<Application> {
        std::vector<std::shared_ptr<Application>> applications;
        for (const auto &part : parts)
            applications.push_back(part());
        return std::make_shared<CombinedApplication>(std::move(applications));
    };
}

} // namespace mailstore
