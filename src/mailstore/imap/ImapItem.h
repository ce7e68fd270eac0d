#pragma once

#include "AccountSession.h"
#include "RemoteReplacement.h"
#include "common/FileDescriptor.h"
#include "mailstore/MailStore.h"
#include "mailstore/mime/EmailEdit.h"

#include <optional>
#include <utility>
#include <vector>

namespace imapstore {

// One message on the server. Analysis knows it from the FETCH of its folder; its body is
// downloaded only when an attachment is saved or removed, or its text is asked for.
class ImapItem : public mailstore::Item, public std::enable_shared_from_this<ImapItem>
{
public:
    ImapItem(std::shared_ptr<AccountSession> session, QString mailbox, QString folderEntryId,
             qint64 uidValidity, RemoteMessage message);

    static QString entryIdOf(const QString &folderEntryId, qint64 uidValidity, qint64 uid);
    // Splits an entry id made by entryIdOf; false when it is not one.
    static bool splitEntryId(const QString &entryId, QString *folderEntryId, qint64 *uidValidity,
                             qint64 *uid);

    QString subject() override;
    QString senderName() override;
    QString entryId() override;
    qint64 size() override;
    QDateTime receivedTime() override;
    QString body() override;
    QString unchangeableReason() override;
    void appendToBody(const QString &text) override;
    void replaceInBody(const QString &text, const QString &replacement) override;
    void save() override;
    // True when save() failed before anything was sent to the server (a saved file or the
    // rewrite that did not check out).
    bool unchangedAfterFailedSave() override { return m_unchangedAfterFailure; }
    QStringList takeSaveNotices() override;
    bool watchNextSave(mailstore::RewriteWatcher watcher) override;
    QString storedEntryId() override;
    QString folderEntryId() override { return m_folderEntryId; }
    QByteArray content() override;
    void replaceContent(const QByteArray &bytes) override;
    std::shared_ptr<mailstore::Attachments> attachments() override;
    mailstore::SummarySource summarySource() override;

    QString attachmentName(int index);
    int attachmentCount();
    qint64 attachmentSize(int index);
    QString attachmentType(int index);
    mailstore::SavedContent saveAttachment(int index, const QString &path);
    void removeAttachment(int index);

private:
    mime::EmailEdit &edit();
    QByteArray fetchSection(const QByteArray &section);
    void noteOldLeft(const Replaced &replaced);

    std::shared_ptr<AccountSession> m_session;
    QString m_mailbox;
    QString m_folderEntryId;
    qint64 m_uidValidity;
    RemoteMessage m_message;
    QString m_entryId;
    std::optional<mime::EmailEdit> m_edit;
    // A file an attachment was saved to, held open to be read again before the email
    // changes: the job may give it another name meanwhile.
    struct SavedFile
    {
        qb::FileDescriptor fd;
        int node; // the part's node in m_edit's original
        QString name;
    };
    std::vector<SavedFile> m_savedFiles;
    bool m_unchangedAfterFailure = false;
    QStringList m_saveNotices;
    mailstore::RewriteWatcher m_watcher;
};

} // namespace imapstore
