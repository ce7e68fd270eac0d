#include "DecodedSize.h"

#include "ParsedEmail.h"

#include <array>

namespace mime {

namespace {

constexpr qint64 base64LineCharacters = 76;
constexpr qint64 lineBreakOctets = 2; // CRLF

constexpr std::array<bool, 256> base64Alphabet()
{
    std::array<bool, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c)
        table[size_t(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c)
        table[size_t(c)] = true;
    for (int c = '0'; c <= '9'; ++c)
        table[size_t(c)] = true;
    table[size_t('+')] = true;
    table[size_t('/')] = true;
    return table;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

qint64 base64Size(QByteArrayView encoded)
{
    static constexpr std::array<bool, 256> alphabet = base64Alphabet();
    qint64 characters = 0;
    bool padded = false;
    for (const char c : encoded) {
        if (c == '=') {
            padded = true;
            break;
        }
        characters += alphabet[size_t(static_cast<unsigned char>(c))] ? 1 : 0;
    }
    // The decoder gives the bytes of a last group of two or three characters only when
    // padding ends it; a group cut off without padding gives nothing.
    const qint64 left = characters % 4;
    return characters / 4 * 3 + (padded && left > 1 ? left - 1 : 0);
}

// Follows the decoder's reading of every "=": a soft line break ("=" LF or "=" CR LF)
// gives nothing, "=XX" one byte, an "=" with fewer than two bytes after it at the end
// nothing, and any other "=" comes out with the two bytes after it as they are.
qint64 quotedPrintableSize(QByteArrayView encoded)
{
    const qsizetype length = encoded.size();
    const char *data = encoded.data();
    qint64 size = 0;
    qsizetype i = 0;
    while (i < length) {
        const qsizetype equals = QByteArrayView(data + i, length - i).indexOf('=');
        if (equals < 0) {
            size += length - i;
            break;
        }
        size += equals;
        i += equals;
        const qsizetype left = length - i - 1;
        if (left >= 1 && data[i + 1] == '\n') {
            i += 2;
        } else if (left < 2) {
            i = length;
        } else if (data[i + 1] == '\r' && data[i + 2] == '\n') {
            i += 3;
        } else {
            size += isHexDigit(data[i + 1]) && isHexDigit(data[i + 2]) ? 1 : 3;
            i += 3;
        }
    }
    return size;
}

// The base64 characters of a body of this many octets laid out in 76-character lines
// with CRLF between them, and perhaps after the last: the one count that is a multiple
// of four, or -1 when none fits.
qint64 base64CharactersOf(qint64 octets)
{
    const qint64 breaksNear = octets / (base64LineCharacters + lineBreakOctets);
    for (qint64 breaks = qMax<qint64>(0, breaksNear - 1); breaks <= breaksNear + 1; ++breaks) {
        const qint64 characters = octets - breaks * lineBreakOctets;
        if (characters < 0 || characters % 4 != 0)
            continue;
        const qint64 lines = (characters + base64LineCharacters - 1) / base64LineCharacters;
        // Breaks between the lines, or after each of them.
        if (breaks == qMax<qint64>(0, lines - 1) || breaks == lines)
            return characters;
    }
    return -1;
}

} // namespace

qint64 decodedSizeOf(QByteArrayView encoded, Transfer transfer)
{
    switch (transfer) {
    case Transfer::Base64:
        return base64Size(encoded);
    case Transfer::QuotedPrintable:
        return quotedPrintableSize(encoded);
    case Transfer::Identity:
    case Transfer::UUEncode:
    case Transfer::Unknown:
        break;
    }
    return encoded.size();
}

qint64 attachmentSizeOf(const ParsedEmail &email, int node)
{
    // An attached email's encoding is 7bit, 8bit or binary, so its size is its body bytes;
    // one that names another encoding anyway is decoded when saved, and counted so here.
    return decodedSizeOf(email.tree().view(email.tree().node(node).body), email.transferOf(node));
}

qint64 decodedSizeFromOctets(qint64 octets, Transfer transfer)
{
    if (octets <= 0)
        return 0;
    if (transfer != Transfer::Base64)
        return octets;
    const qint64 characters = base64CharactersOf(octets);
    if (characters < 0)
        return octets * 57 / 78;
    // The padding (none, one or two "=") is unknown: one byte less than the most is
    // never more than one byte off.
    return qMax<qint64>(0, characters / 4 * 3 - 1);
}

} // namespace mime
