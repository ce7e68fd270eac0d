#include "imap/Envelope.h"

#include "common/Error.h"
#include "imap/ResponseValue.h"

namespace imap {

namespace {

std::vector<Address> addressList(const Value &value)
{
    std::vector<Address> addresses;
    if (!value.isList())
        return addresses; // NIL: nobody
    for (const Value &entry : value.list) {
        if (!entry.isList() || entry.list.size() < 4)
            throw qb::MailStoreError(
                QStringLiteral("Malformed ENVELOPE from the IMAP server: an address is not a "
                               "list of four fields"));
        addresses.push_back({entry.list[0].nstring(), entry.list[1].nstring(),
                             entry.list[2].nstring(), entry.list[3].nstring()});
    }
    return addresses;
}

} // namespace

Envelope parseEnvelope(const Value &value)
{
    if (!value.isList() || value.list.size() < 10)
        throw qb::MailStoreError(
            QStringLiteral("Malformed ENVELOPE from the IMAP server: not a list of ten fields"));
    const auto &fields = value.list;
    Envelope envelope;
    envelope.date = fields[0].nstring();
    envelope.subject = fields[1].nstring();
    envelope.from = addressList(fields[2]);
    envelope.sender = addressList(fields[3]);
    envelope.replyTo = addressList(fields[4]);
    envelope.to = addressList(fields[5]);
    envelope.cc = addressList(fields[6]);
    envelope.bcc = addressList(fields[7]);
    envelope.inReplyTo = fields[8].nstring();
    envelope.messageId = fields[9].nstring();
    return envelope;
}

} // namespace imap
