#include "Escape.h"

#include "common/Error.h"

namespace {

char namedEscape(uchar code)
{
    switch (code) {
    case 7:
        return 'a';
    case 8:
        return 'b';
    case 9:
        return 't';
    case 10:
        return 'n';
    case 11:
        return 'v';
    case 12:
        return 'f';
    case 13:
        return 'r';
    case 27:
        return 'e';
    default:
        return 0;
    }
}

int namedCode(char letter)
{
    switch (letter) {
    case 'a':
        return 7;
    case 'b':
        return 8;
    case 'e':
        return 27;
    case 'f':
        return 12;
    case 'n':
        return 10;
    case 'r':
        return 13;
    case 't':
        return 9;
    case 'v':
        return 11;
    default:
        return -1;
    }
}

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

} // namespace

QByteArray escapeBytes(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto code = uchar(c);
        if (code == '\\') {
            out.append("\\\\");
        } else if (const char letter = namedEscape(code)) {
            out.append('\\').append(letter);
        } else if (code < 32) {
            out.append('\\')
                .append(char('0' + (code >> 6)))
                .append(char('0' + ((code >> 3) & 7)))
                .append(char('0' + (code & 7)));
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray unescapeBytes(QByteArrayView escaped)
{
    enum class State { Plain, AfterBackslash, Octal } state = State::Plain;
    QByteArray out;
    out.reserve(escaped.size());
    int octalValue = 0;
    int octalDigits = 0;
    for (const char c : escaped) {
        switch (state) {
        case State::Plain:
            if (c == '\\')
                state = State::AfterBackslash;
            else
                out.append(c);
            break;
        case State::AfterBackslash:
            state = State::Plain;
            if (c == '\\') {
                out.append('\\');
            } else if (const int code = namedCode(c); code >= 0) {
                out.append(char(code));
            } else if (isOctal(c)) {
                state = State::Octal;
                octalValue = c - '0';
                octalDigits = 1;
            } else {
                out.append('\\').append(c);
            }
            break;
        case State::Octal:
            if (!isOctal(c)) {
                throw qb::Error(QStringLiteral(
                    "\\OOO You must specify all 3 octal digits (Leading zeros are required)"));
            }
            octalValue = octalValue * 8 + (c - '0');
            if (++octalDigits == 3) {
                if (octalValue > 255)
                    throw qb::Error(QStringLiteral("\\OOO Maximum octal value is \\377"));
                out.append(char(octalValue));
                state = State::Plain;
            }
            break;
        }
    }
    if (state == State::AfterBackslash)
        throw qb::Error(
            QStringLiteral("Trailing \\ needs to be followed by another \\ or 3 Octal digits"));
    if (state == State::Octal)
        throw qb::Error(QStringLiteral("\\OOO Expecting 3 trailing octal digits"));
    return out;
}

QString Escape(const QString &text)
{
    return QString::fromUtf8(escapeBytes(text.toUtf8()));
}

QString Unescape(const QString &text)
{
    return QString::fromUtf8(unescapeBytes(text.toUtf8()));
}
