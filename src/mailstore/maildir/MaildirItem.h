#pragma once

#include "MaildirSession.h"
#include "mailstore/MailStore.h"

#include <QStringList>

#include <optional>

namespace maildir {

// One email file. It is read when a value is first asked for, and only the values
// the walk needs are kept, so a walk holds one email in memory at a time.
class MaildirItem : public mailstore::Item
{
public:
    MaildirItem(std::shared_ptr<Session> session, std::shared_ptr<FolderNode> folder,
                QString folderEntryId, MessageFile file);

    // The folder's file with this unique name, reading the folder again when the
    // name is not in the listing read before (or at once when that listing is stale).
    static std::optional<MessageFile> findFile(Session &session, const FolderNode &folder,
                                               const QString &uniqueName,
                                               bool listingIsStale = false);

    QString subject() override;
    QString senderName() override;
    QString entryId() override;
    qint64 size() override;
    QDateTime receivedTime() override;
    QString body() override;
    std::shared_ptr<mailstore::Attachments> attachments() override;

    // The file's path now, following a rename by another mail program.
    QString path();

private:
    struct Summary
    {
        QString subject;
        QString senderName;
        qint64 size = 0;
        QDateTime receivedTime;
        QStringList attachmentNames;
    };
    const Summary &summary();
    Summary read(const QString &path);

    std::shared_ptr<Session> m_session;
    std::shared_ptr<FolderNode> m_folder;
    QString m_folderEntryId;
    MessageFile m_file;
    std::optional<Summary> m_summary;
};

} // namespace maildir
