#pragma once

#include "ParsedEmail.h"

#include <QString>

// The changes a job makes to a parsed email. Everything else in the email stays
// as it was: other parts keep their encodings and boundaries, headers their bytes.
namespace mime {

// Signed or encrypted emails are never changed: a change would break the signature
// or could not be made at all.
bool isSignedOrEncrypted(const ParsedEmail &email);

// Writes the decoded content of attachment index (1-based) to path and flushes it.
void writeAttachment(const ParsedEmail &email, int index, const QString &path);

// Removes attachment index (1-based). A single-part email whose part is the
// attachment is left with an empty plain text part.
void removeAttachment(ParsedEmail &email, int index);

// Sets the body text. When text continues the current body, as the job's notes
// do, the addition is appended to the plain text part in its own charset and
// transfer encoding (UTF-8 when the charset cannot hold it) and, as a paragraph
// with live links, to the HTML part; an email without either gets a plain text
// part. Any other text replaces the plain text.
void setBodyText(ParsedEmail &email, const QString &text);

// Writes the email to a file descriptor and flushes it to disk.
void writeEmail(const ParsedEmail &email, int fd);

} // namespace mime
