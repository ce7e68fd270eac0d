#pragma once

#include "common/GObjectPtr.h"

#include <gmime/gmime.h>

#include <QString>

#include <vector>

namespace mime {

// One attachment of a parsed email: a leaf part other than the email's text body,
// in the order of the MIME parts, depth first.
struct AttachmentPart
{
    GMimeObject *part;   // borrowed from the message
    GMimeObject *parent; // the multipart holding it; null for a single-part email
    QString filename;
};

// An email file parsed with GMime. The objects belong to the thread that parsed it.
class ParsedEmail
{
public:
    // Throws qb::MailStoreError when the file cannot be read. Content that is not
    // valid MIME gives an email with no attachments.
    static ParsedEmail fromFile(const QString &path);
    static ParsedEmail fromBytes(const QByteArray &bytes);

    GMimeMessage *message() const { return m_message.get(); }

    QString subject() const;
    QString senderName() const;
    // The text body decoded: the first plain text part, else the first HTML part.
    QString body() const;
    std::vector<AttachmentPart> attachments() const;
    // The first text part of this subtype ("plain", "html") that is not an
    // attachment: where the body is read and where notes are added. Null when none.
    GMimeObject *textPart(const char *subtype) const;

private:
    explicit ParsedEmail(qb::GObjectPtr<GMimeStream> stream);

    qb::GObjectPtr<GMimeMessage> m_message;
};

// The raw value of a header of a MIME object, or a null array when it is absent.
QByteArray rawHeader(GMimeObject *object, const char *name);

} // namespace mime
