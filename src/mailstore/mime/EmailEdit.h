#pragma once

#include "ParsedEmail.h"
#include "RewritePlan.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace mime {

// The changes a job makes to one email: attachments removed and notes appended,
// gathered first and written once. The new email is written from the original
// bytes: whatever is not changed is copied as it was (headers with their odd
// bytes, parts with their line ends and encodings, boundaries, preamble and
// epilogue), a note is appended to a text part without decoding its text, and
// a part that cannot take the note in its own charset is left alone while the
// note goes into a small UTF-8 part of its own.
class EmailEdit
{
public:
    explicit EmailEdit(ParsedEmail email);
    ~EmailEdit();
    EmailEdit(EmailEdit &&) noexcept;
    EmailEdit &operator=(EmailEdit &&) noexcept;

    const ParsedEmail &original() const { return m_email; }

    // The attachments that are left, position 1 to count.
    int attachmentCount() const { return int(m_remaining.size()); }
    const AttachmentPart &attachment(int position) const;

    struct Saved
    {
        qint64 bytes = 0;
        QString damage; // why the content did not decode cleanly; empty when it did
    };
    // Writes the decoded content of the attachment at position to fd.
    Saved writeAttachment(int position, int fd) const;

    // Why the email cannot be changed (signed, encrypted, not MIME), or an empty text.
    QString refusal() const;
    // Both throw qb::MailStoreError when the email cannot be changed.
    void removeAttachment(int position);
    void appendNote(const QString &note);
    // A note appended before, changed in place in every text part that holds it (its
    // link moved) and written as the note was; the plan refuses when none holds it.
    void replaceNote(const QString &note, const QString &replacement);
    bool changed() const { return m_changed; }

    // Writes the changed email to fd in one pass and flushes it to disk.
    void writeTo(int fd) const;
    // Where the changed email differs from the original: in the order of the data, each
    // span of the original and the span of the changed email written in its place.
    std::vector<ChangedSpan> changedSpans() const;
    // The attachments removed, each as its position among the original's (1 to count) and
    // its node in the original's tree.
    std::vector<std::pair<int, int>> removedAttachments() const;
    // Throws qb::MailStoreError unless the rewritten email holds what was meant:
    // the same attachments but the removed ones (each known by its place in the
    // original, whatever number an unnamed one reads under), every kept part's header and
    // body bytes as they were, the notes added to the text parts' content after
    // (never inside) what was there, and the email's own headers unchanged.
    void verify(const ParsedEmail &rewritten) const;

private:
    const RewritePlan &plan() const;
    bool keptPartMatches(int oldLeaf, const ParsedEmail &rewritten, int newLeaf) const;

    ParsedEmail m_email;
    std::vector<int> m_remaining; // indexes into m_email.attachments()
    std::vector<bool> m_removed;  // by index into m_email.attachments()
    QString m_notes;
    std::vector<NoteChange> m_noteChanges;
    QString m_refusal;
    bool m_changed = false;
    mutable std::unique_ptr<RewritePlan> m_plan;
};

} // namespace mime
