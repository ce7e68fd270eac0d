#include "TransferCoding.h"

#include <vector>

namespace mime {

namespace {

constexpr qsizetype chunkSize = 64 * 1024;

GMimeContentEncoding gmimeEncoding(Transfer transfer)
{
    switch (transfer) {
    case Transfer::Base64:
        return GMIME_CONTENT_ENCODING_BASE64;
    case Transfer::QuotedPrintable:
        return GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    case Transfer::UUEncode:
        return GMIME_CONTENT_ENCODING_UUENCODE;
    case Transfer::Identity:
    case Transfer::Unknown:
        break;
    }
    return GMIME_CONTENT_ENCODING_DEFAULT;
}

// Runs the pieces through a GMime coder state in chunks, then flushes it.
void step(GMimeEncoding &state, const std::vector<QByteArrayView> &pieces, const ByteSink &sink)
{
    std::vector<char> out;
    const auto run = [&](QByteArrayView input, bool flush) {
        out.resize(g_mime_encoding_outlen(&state, size_t(input.size())) + 16);
        char *in = const_cast<char *>(input.data());
        const size_t written =
            flush ? g_mime_encoding_flush(&state, in, size_t(input.size()), out.data())
                  : g_mime_encoding_step(&state, in, size_t(input.size()), out.data());
        if (written > 0)
            sink(QByteArrayView(out.data(), qsizetype(written)));
    };
    for (const QByteArrayView piece : pieces) {
        for (qsizetype done = 0; done < piece.size(); done += chunkSize)
            run(piece.sliced(done, std::min(chunkSize, piece.size() - done)), false);
    }
    run(QByteArrayView(), true);
}

bool isBase64Letter(uchar c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

bool isSpace(uchar c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QString base64Damage(QByteArrayView text)
{
    qint64 letters = 0;
    qint64 padding = 0;
    qint64 foreign = 0;
    bool afterPadding = false;
    for (const char ch : text) {
        const uchar c = uchar(ch);
        if (isSpace(c))
            continue;
        if (c == '=') {
            ++padding;
            afterPadding = true;
        } else if (isBase64Letter(c)) {
            if (afterPadding)
                ++foreign; // text after the end of the data
            else
                ++letters;
        } else {
            ++foreign;
        }
    }
    if (foreign > 0)
        return QStringLiteral("%1 character(s) that are not base64").arg(foreign);
    const qint64 rest = letters % 4;
    if (rest == 1 || (rest != 0 && padding != 4 - rest))
        return QStringLiteral("the last group of base64 is cut off");
    return {};
}

bool isHex(uchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

QString quotedPrintableDamage(QByteArrayView text)
{
    qint64 bad = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '=')
            continue;
        if (i + 2 < text.size() && isHex(uchar(text[i + 1])) && isHex(uchar(text[i + 2]))) {
            i += 2;
            continue;
        }
        // A soft line break: "=", blanks, then the end of the line or of the text.
        qsizetype j = i + 1;
        while (j < text.size() && (text[j] == ' ' || text[j] == '\t'))
            ++j;
        if (j == text.size() || text[j] == '\n' ||
            (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n'))
            continue;
        ++bad;
    }
    return bad > 0 ? QStringLiteral("%1 broken quoted-printable escape(s)").arg(bad) : QString();
}

} // namespace

Transfer transferOf(const QByteArray &contentTransferEncoding)
{
    const QByteArray name = contentTransferEncoding.trimmed().toLower();
    if (name.isEmpty() || name == "7bit" || name == "8bit" || name == "binary")
        return Transfer::Identity;
    switch (g_mime_content_encoding_from_string(name.constData())) {
    case GMIME_CONTENT_ENCODING_BASE64:
        return Transfer::Base64;
    case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE:
        return Transfer::QuotedPrintable;
    case GMIME_CONTENT_ENCODING_UUENCODE:
        return Transfer::UUEncode;
    default:
        return Transfer::Unknown;
    }
}

void decodeTo(QByteArrayView encoded, Transfer transfer, const ByteSink &sink)
{
    if (transfer == Transfer::Identity || transfer == Transfer::Unknown) {
        for (qsizetype done = 0; done < encoded.size(); done += chunkSize)
            sink(encoded.sliced(done, std::min(chunkSize, encoded.size() - done)));
        return;
    }
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, gmimeEncoding(transfer));
    step(state, {encoded}, sink);
}

QByteArray decoded(QByteArrayView encoded, Transfer transfer)
{
    if (transfer == Transfer::Identity || transfer == Transfer::Unknown)
        return encoded.toByteArray();
    QByteArray out;
    out.reserve(encoded.size());
    decodeTo(encoded, transfer, [&](QByteArrayView piece) { out.append(piece); });
    return out;
}

void encodeTo(const std::vector<QByteArrayView> &pieces, Transfer transfer,
              const QByteArray &lineBreak, const ByteSink &sink)
{
    GMimeEncoding state;
    g_mime_encoding_init_encode(&state, gmimeEncoding(transfer));
    if (lineBreak == "\n") {
        step(state, pieces, sink);
        return;
    }
    // GMime ends encoded lines with LF; the part's own line break replaces it.
    step(state, pieces, [&](QByteArrayView piece) {
        qsizetype start = 0;
        for (qsizetype newline; (newline = piece.indexOf('\n', start)) >= 0; start = newline + 1) {
            sink(piece.sliced(start, newline - start));
            sink(lineBreak);
        }
        sink(piece.sliced(start));
    });
}

QByteArray encoded(QByteArrayView data, Transfer transfer, const QByteArray &lineBreak)
{
    QByteArray out;
    encodeTo({data}, transfer, lineBreak, [&](QByteArrayView piece) { out.append(piece); });
    return out;
}

QString damageOf(QByteArrayView encoded, Transfer transfer)
{
    switch (transfer) {
    case Transfer::Base64:
        return base64Damage(encoded);
    case Transfer::QuotedPrintable:
        return quotedPrintableDamage(encoded);
    default:
        return {};
    }
}

} // namespace mime
