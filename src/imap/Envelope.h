#pragma once

// A FETCH ENVELOPE (RFC 3501 7.4.2): the header fields the server parsed, raw as sent
// (encoded words are not decoded here).

#include <QByteArray>

#include <vector>

namespace imap {

struct Value;

struct Address
{
    QByteArray name, adl, mailbox, host; // a group's start has a null host, its end a null mailbox
};

struct Envelope
{
    QByteArray date, subject;
    std::vector<Address> from, sender, replyTo, to, cc, bcc;
    QByteArray inReplyTo, messageId;
};

// Throws qb::MailStoreError when the value is not an envelope; NIL fields stay empty.
Envelope parseEnvelope(const Value &value);

} // namespace imap
