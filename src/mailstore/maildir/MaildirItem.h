#pragma once

#include "MaildirSession.h"
#include "SummaryReading.h"
#include "mailstore/MailStore.h"
#include "mailstore/mime/EmailEdit.h"

#include <QStringList>

#include <optional>

namespace maildir {

// One email file. It is read when a value is first asked for, and only the values
// the walk needs are kept, so a walk holds one email in memory at a time. Changes
// (attachments removed, notes appended) are gathered on the email read whole and
// written together by save(), as one new file.
class MaildirItem : public mailstore::Item, public std::enable_shared_from_this<MaildirItem>
{
public:
    MaildirItem(std::shared_ptr<Session> session, std::shared_ptr<const Session::Store> store,
                std::shared_ptr<FolderNode> folder, QString folderEntryId, MessageFile file);

    // The folder's file with this unique name, reading the folder again when the
    // name is not in the listing read before (or at once when that listing is
    // stale), and following this session's replacements of the email.
    static std::optional<MessageFile> findFile(Session &session, const FolderNode &folder,
                                               const QString &uniqueName,
                                               bool listingIsStale = false);

    QString subject() override;
    QString senderName() override;
    QString entryId() override;
    qint64 size() override;
    QDateTime receivedTime() override;
    QString body() override;
    QByteArray version() override;
    // Compares the file's stamp (size, modification time, inode) and the subject, sender
    // and attachment names read from it now; a file that differs is taken out of the
    // summary cache, and its folder is checked file by file at the next analysis.
    QString changedSince(const QByteArray &version) override;
    QString unchangeableReason() override;
    void appendToBody(const QString &text) override;
    void replaceInBody(const QString &text, const QString &replacement) override;
    void save() override;
    bool watchNextSave(mailstore::RewriteWatcher watcher) override;
    QString storedEntryId() override;
    QString folderEntryId() override { return m_folderEntryId; }
    QByteArray content() override;
    void replaceContent(const QByteArray &bytes) override;
    // True when the rewrite failed before it was checked: nothing of it was put in place.
    bool unchangedAfterFailedSave() override { return m_unchangedAfterFailure; }
    std::shared_ptr<mailstore::Attachments> attachments() override;
    // From the session's summary cache when it knows the file as it is, else a reading of
    // the file that remembers what it read in the cache.
    mailstore::SummarySource summarySource() override;

    // The attachments' side of the store's operations; index counts the
    // attachments left after this item's removals.
    QString attachmentName(int index);
    // The attachment's decoded size (mime/DecodedSize.h).
    qint64 attachmentSize(int index);
    QString attachmentType(int index);
    int attachmentCount();
    mailstore::SavedContent saveAttachment(int index, const QString &path);
    void removeAttachment(int index);

    // The file's path now, following a rename by another mail program.
    QString path();

private:
    const mailstore::EmailSummary &summary();
    mime::EmailEdit &edit();

    std::shared_ptr<Session> m_session;
    std::shared_ptr<const Session::Store> m_store;
    std::shared_ptr<FolderNode> m_folder;
    bool m_unchangedAfterFailure = true;
    QString m_folderEntryId;
    MessageFile m_file;
    QString m_entryId; // stays the id the email was found by, after a rewrite too
    std::optional<mailstore::EmailSummary> m_summary;
    std::optional<mime::EmailEdit> m_edit;
    FileStamp m_editStamp; // of the file m_edit was read from
    mailstore::RewriteWatcher m_watcher;
};

} // namespace maildir
