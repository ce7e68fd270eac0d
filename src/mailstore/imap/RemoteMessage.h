#pragma once

#include "imap/BodyStructure.h"
#include "imap/ResponseValue.h"
#include "mailstore/MailStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <vector>

namespace mime {
class HeaderMemo;
}

namespace imapstore {

// One attachment as the server describes it: where to fetch it and how it is encoded.
struct RemotePart
{
    QByteArray section; // for BODY.PEEK[section]
    QByteArray encoding;
    QString filename;
    qint64 decodedSize = 0; // told from the encoded octets (mime/DecodedSize.h)
    QByteArray mimeType;    // lower-case "type/subtype"
};

// What one FETCH of a message says of it, enough to list its attachments without
// downloading any body.
struct RemoteMessage
{
    qint64 uid = 0;
    QByteArrayList flags;
    bool deleted = false;    // marked \Deleted: on its way out, never listed nor changed
    QByteArray internalDate; // as the server sent it, for APPEND
    QByteArray messageId;
    bool signedOrEncrypted = false;
    mailstore::EmailSummary summary;
    std::vector<RemotePart> attachments;
};

// The data items a message is fetched with for analysis.
QByteArray summaryFetchItems();

// Reads one FETCH response of summaryFetchItems(). Throws qb::MailStoreError when it
// lacks what a message needs (UID, size, date, structure). With a memo, header values
// seen in earlier messages are not parsed again.
RemoteMessage readRemoteMessage(const imap::Response &fetch, mime::HeaderMemo *memo = nullptr);

// The attachments of a body structure, by the rule every store applies (AttachmentRule.h),
// its header values rebuilt from what the server parsed.
std::vector<RemotePart> attachmentsOf(const imap::BodyPart &structure,
                                      mime::HeaderMemo *memo = nullptr);
bool isSignedOrEncrypted(const imap::BodyPart &structure);

// An IMAP date-time ("17-Jul-1996 02:44:25 -0700"); invalid when it is not one.
QDateTime fromInternalDate(const QByteArray &text);

} // namespace imapstore
