#pragma once

#include "MailStore.h"
#include "common/Error.h"

#include <memory>

namespace mailstore {

// The attachments collection of a store's item type that answers for its attachments by
// position: attachmentName(i), attachmentCount(), saveAttachment(i, path) and
// removeAttachment(i), and attachmentSize(i) when it can tell one. Members are looked up
// as the item stands when they are asked for, so removals earlier in a job move later
// attachments down.
template <class StoreItem> class ItemAttachment : public Attachment
{
public:
    ItemAttachment(std::shared_ptr<StoreItem> item, int index)
        : m_item(std::move(item)), m_index(index)
    {
    }
    QString filename() override { return m_item->attachmentName(m_index); }
    SavedContent saveAsFile(const QString &path) override
    {
        return m_item->saveAttachment(m_index, path);
    }
    void remove() override { m_item->removeAttachment(m_index); }
    qint64 decodedSize() override
    {
        if constexpr (requires(StoreItem & item) { item.attachmentSize(1); })
            return m_item->attachmentSize(m_index);
        else
            return Attachment::decodedSize();
    }
    QString contentType() override
    {
        if constexpr (requires(StoreItem & item) { item.attachmentType(1); })
            return m_item->attachmentType(m_index);
        else
            return Attachment::contentType();
    }

private:
    std::shared_ptr<StoreItem> m_item;
    int m_index;
};

template <class StoreItem> class ItemAttachments : public Attachments
{
public:
    explicit ItemAttachments(std::shared_ptr<StoreItem> item) : m_item(std::move(item)) {}
    int count() override { return m_item->attachmentCount(); }
    std::shared_ptr<Attachment> item(int index) override
    {
        if (index < 1 || index > count())
            throw qb::MailStoreError(QStringLiteral("No attachment at position %1").arg(index));
        return std::make_shared<ItemAttachment<StoreItem>>(m_item, index);
    }

private:
    std::shared_ptr<StoreItem> m_item;
};

} // namespace mailstore
