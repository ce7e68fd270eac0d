#pragma once

#include "TransferCoding.h"

#include <QByteArrayView>

// An attachment's decoded size, told from its encoded body without decoding it, so that
// analysis can list it at the cost of one pass over bytes it has read anyway (or, for a
// server's part, from its octet count alone). The Maildir store caches these sizes
// (maildir/SummaryCache.h): a change to them must bump the cache's formatVersion.
namespace mime {

class ParsedEmail;

// The size decodeTo() would give for this body:
// - base64: three bytes for every four base64 characters before the first "=" padding
//   (line breaks and other characters skipped), and one or two for a padded last group:
//   exact, as the decoder stops at the padding and drops a last group cut off without it;
// - quoted-printable: every "=XX" one byte, a soft line break none, every other byte
//   itself (an "=" that starts no escape counts as the decoder keeps it): exact;
// - identity (7bit, 8bit, binary) and an unknown encoding: the bytes themselves, exact;
// - uuencode: the encoded bytes, an upper bound (about 40 % more than the content).
qint64 decodedSizeOf(QByteArrayView encoded, Transfer transfer);

// The decoded size of one attachment of a parsed email by node, as saving it would write:
// an attached email's body bytes, any other part's by decodedSizeOf.
qint64 attachmentSizeOf(const ParsedEmail &email, int node);

// The decoded size told from the octet count of the encoded body alone (as an IMAP
// server's BODYSTRUCTURE gives it), with CRLF line breaks as on the wire:
// - base64: read as lines of 76 characters each ending in CRLF, the longest RFC 2045
//   allows and what mail programs write. For such a body the count of base64
//   characters is recovered exactly (it is a multiple of four, and with or without a line
//   break at its end only one count fits), leaving only the padding unknown: the result
//   is within 1 byte of the truth. With other line lengths the line breaks' share differs:
//   lines of 64 characters read about 0.5 % high, a body without line breaks about 2.6 %
//   low. A count that fits no 76-character layout at all is scaled by 57/78;
// - quoted-printable, identity, uuencode and unknown encodings: the octet count, exact for
//   identity and an upper bound for the others.
qint64 decodedSizeFromOctets(qint64 octets, Transfer transfer);

} // namespace mime
