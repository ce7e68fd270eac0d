#include "imap/ModifiedUtf7.h"

namespace imap {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return -1;
}

bool isPrintable(char16_t c)
{
    return c >= 0x20 && c <= 0x7e;
}

void appendShifted(QByteArray &out, const QString &run)
{
    out += '&';
    quint32 bits = 0;
    int bitCount = 0;
    for (const QChar c : run) {
        bits = (bits << 16) | c.unicode();
        bitCount += 16;
        while (bitCount >= 6) {
            bitCount -= 6;
            out += alphabet[(bits >> bitCount) & 0x3f];
        }
    }
    if (bitCount > 0)
        out += alphabet[(bits << (6 - bitCount)) & 0x3f];
    out += '-';
}

// The UTF-16 text of a shifted run's base64, or a null string when it is not valid:
// characters outside the alphabet, a partial code unit, leftover bits that are not zero,
// a lone surrogate, or nothing at all.
QString decodeShifted(QByteArrayView base64)
{
    QString text;
    quint32 bits = 0;
    int bitCount = 0;
    for (const char c : base64) {
        const int value = sextet(c);
        if (value < 0)
            return {};
        bits = (bits << 6) | quint32(value);
        bitCount += 6;
        if (bitCount >= 16) {
            bitCount -= 16;
            text += QChar(char16_t((bits >> bitCount) & 0xffff));
        }
    }
    if (text.isEmpty() || bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0)
        return {};
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return {};
            ++i;
        } else if (text.at(i).isLowSurrogate()) {
            return {};
        }
    }
    return text;
}

} // namespace

QByteArray encodeMailboxName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size());
    QString run;
    for (const QChar c : name) {
        if (isPrintable(c.unicode())) {
            if (!run.isEmpty()) {
                appendShifted(out, run);
                run.clear();
            }
            if (c == u'&')
                out += "&-";
            else
                out += char(c.unicode());
        } else {
            run += c;
        }
    }
    if (!run.isEmpty())
        appendShifted(out, run);
    return out;
}

QString decodeMailboxName(QByteArrayView wire)
{
    QString name;
    QByteArray raw; // bytes taken as they are, decoded as UTF-8 together
    const auto flushRaw = [&] {
        name += QString::fromUtf8(raw);
        raw.clear();
    };
    qsizetype i = 0;
    while (i < wire.size()) {
        const char c = wire.at(i);
        if (c != '&') {
            raw += c;
            ++i;
            continue;
        }
        const qsizetype end = wire.indexOf('-', i + 1);
        if (end < 0) {
            raw += wire.sliced(i);
            break;
        }
        if (end == i + 1) {
            raw += '&';
        } else {
            const QString shifted = decodeShifted(wire.sliced(i + 1, end - i - 1));
            if (shifted.isNull()) {
                raw += wire.sliced(i, end - i + 1);
            } else {
                flushRaw();
                name += shifted;
            }
        }
        i = end + 1;
    }
    flushRaw();
    return name;
}

} // namespace imap
