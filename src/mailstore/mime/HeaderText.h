#pragma once

#include <QByteArray>
#include <QString>

namespace mime {

// Bytes in the named charset as text. Unknown charsets and invalid bytes fall back
// to UTF-8 when the bytes are valid UTF-8, else to windows-1252, so no input is lost.
QString toUnicode(const QByteArray &bytes, const QByteArray &charset);

// Removes the line breaks of a folded header value.
QByteArray unfold(const QByteArray &raw);

// Decodes a header value: RFC 2047 encoded words in any charset, with raw 8-bit
// text taken as UTF-8 (or windows-1252 when it is not valid UTF-8). Each encoded
// word is decoded on its own; adjacent words of one charset are joined as bytes
// before conversion, since senders split multibyte characters across words.
QString decodeHeaderText(const QByteArray &raw);

} // namespace mime
