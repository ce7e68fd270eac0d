#pragma once

#include "mailstore/MailStore.h"

#include <QHash>
#include <QMutex>
#include <QStringList>

#include <memory>
#include <vector>

// A mail store held in memory, built folder by folder by a test. Any operation of
// any object can be told to fail with a given message, and every call is recorded,
// so the callers' failure rules can be checked.
//
// Object keys for failures and the call record: "application", "namespace", a
// folder's or item's entry id, an attachment's "<item entry id>#<index>", and a
// collection's "<owner entry id>/folders", "/items" or "/attachments" ("namespace/folders").
class MemoryStore
{
public:
    struct AttachmentData
    {
        QString filename;
        QByteArray content;
        QString damage; // what saveAsFile reports
    };
    struct ItemData
    {
        QString entryId;
        QString subject;
        QString senderName;
        qint64 size = 0;
        QDateTime receivedTime;
        QString body;
        std::vector<AttachmentData> attachments;
        QString unchangeableReason;
        int saveCount = 0; // how often save() stored the email
    };
    struct FolderData
    {
        QString name;
        QString entryId;
        QString storeId;
        int defaultItemType = mailstore::MailItemType;
        std::vector<std::shared_ptr<ItemData>> items;
        std::vector<std::shared_ptr<FolderData>> folders;
    };

    // A store's top folder.
    std::shared_ptr<FolderData> addStore(const QString &name);
    std::shared_ptr<FolderData> addFolder(const std::shared_ptr<FolderData> &parent,
                                          const QString &name,
                                          int defaultItemType = mailstore::MailItemType);
    // An email with the given attachment names.
    std::shared_ptr<ItemData> addItem(const std::shared_ptr<FolderData> &folder,
                                      const QString &subject,
                                      const QStringList &attachmentNames = {});
    void setDefaultInbox(const std::shared_ptr<FolderData> &folder);

    // The operation of the object fails with message from now on.
    void failOn(const QString &objectKey, const QString &operation, const QString &message);
    // Recorded calls, as "<object key>.<operation>".
    QStringList calls() const;

    mailstore::ApplicationFactory factory();

    // Used by the store's objects.
    void call(const QString &objectKey, const QString &operation);
    std::shared_ptr<FolderData> findFolder(const QString &entryId) const;
    std::shared_ptr<ItemData> findItem(const QString &entryId) const;
    const std::vector<std::shared_ptr<FolderData>> &stores() const { return m_stores; }
    std::shared_ptr<FolderData> defaultInbox() const { return m_defaultInbox; }

private:
    mutable QMutex m_mutex;
    std::vector<std::shared_ptr<FolderData>> m_stores;
    std::shared_ptr<FolderData> m_defaultInbox;
    QHash<QString, QString> m_failures;
    QStringList m_calls;
    int m_nextId = 1;
};
