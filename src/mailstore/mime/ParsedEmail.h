#pragma once

#include "MimeTree.h"
#include "TransferCoding.h"

#include <QString>

#include <vector>

struct stat;

namespace mime {

// One attachment of an email: a leaf part other than the email's text body, or
// an attached email (whose own parts are not listed), in the order of the MIME
// parts, depth first.
struct AttachmentPart
{
    int node = -1;
    QString filename;
};

// An email file read whole, with its MIME structure. Attachments are found once.
// The Maildir store caches the subject, sender and attachment names read here
// (maildir/SummaryCache.h): a change to how they are read must bump the cache's
// formatVersion, or analyses go on listing what the old reading found.
class ParsedEmail
{
public:
    // Reads a regular file; anything else (a FIFO, a device, a folder) and read
    // failures throw qb::MailStoreError. Content that is not valid MIME reads as
    // an email without attachments.
    static ParsedEmail fromFile(const QString &path);
    // With a memo, header values seen in earlier emails are not parsed again.
    explicit ParsedEmail(QByteArray bytes, HeaderMemo *memo = nullptr);

    const MimeTree &tree() const { return m_tree; }
    const QByteArray &bytes() const { return m_tree.data(); }

    QString subject() const;
    QString senderName() const;
    // The text body decoded: the first plain text part, else the first HTML part.
    QString body() const;
    const std::vector<AttachmentPart> &attachments() const { return m_attachments; }
    // The first text part of this subtype ("plain", "html") that is not an
    // attachment: where the body is read and where notes go. -1 when none.
    int textPart(const char *subtype) const;
    // Signed or encrypted emails are never changed: a change would break the
    // signature or could not be made at all.
    bool isSignedOrEncrypted() const;

    Transfer transferOf(int node) const;
    // The charset a text part's bytes are in: declared, else for HTML the one its
    // <meta> names; empty when neither says.
    QByteArray charsetOf(int node) const;
    QByteArray decodedContent(int node) const;

private:
    MimeTree m_tree;
    std::vector<AttachmentPart> m_attachments;
};

// Reads the regular file at path whole into buffer with one read, reusing the buffer's
// memory when it is large enough and no one else holds it; *info gets the file's status.
// Anything else than a regular file, and read failures, throw qb::MailStoreError.
void readEmailFile(const QString &path, QByteArray &buffer, struct stat *info);

// The charset an HTML document's <meta> declares, or an empty array.
QByteArray htmlMetaCharset(QByteArrayView html);

} // namespace mime
