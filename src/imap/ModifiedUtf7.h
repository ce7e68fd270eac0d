#pragma once

// Mailbox names on the wire (RFC 3501 5.1.3): printable ASCII as is, "&" as "&-", anything
// else as UTF-16 in a base64 variant between "&" and "-".

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace imap {

QByteArray encodeMailboxName(const QString &name);
// Never fails: a malformed "&...-" run, and 8-bit bytes, decode as their raw (UTF-8) text.
QString decodeMailboxName(QByteArrayView wire);

} // namespace imap
