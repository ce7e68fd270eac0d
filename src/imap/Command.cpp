#include "imap/Command.h"

#include "common/Error.h"
#include "imap/ModifiedUtf7.h"

#include <QList>

namespace imap {

namespace {

// Longest string sent quoted; longer ones go as literals, which servers read without
// scanning for escapes.
constexpr qsizetype maxQuoted = 1024;

bool breaksLine(QByteArrayView text)
{
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}

bool quotable(QByteArrayView bytes)
{
    if (bytes.size() > maxQuoted)
        return false;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7e)
            return false;
    }
    return true;
}

} // namespace

Command::Command(QByteArrayView verbAndAtoms)
{
    m_pieces.emplace_back();
    appendText(verbAndAtoms);
}

void Command::appendText(QByteArrayView text)
{
    if (breaksLine(text))
        throw qb::MailStoreError(
            QStringLiteral("An IMAP command cannot hold a line break or NUL outside a string"));
    if (m_pieces.back().hasLiteral)
        m_pieces.emplace_back();
    m_pieces.back().text += text;
}

Command &Command::atom(QByteArrayView atom)
{
    appendText(" ");
    appendText(atom);
    return *this;
}

Command &Command::string(QByteArrayView bytes)
{
    if (!quotable(bytes))
        return literal(bytes);
    QByteArray quoted;
    quoted.reserve(bytes.size() + 3);
    quoted += " \"";
    for (const char c : bytes) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    appendText(quoted);
    return *this;
}

Command &Command::literal(QByteArrayView bytes)
{
    appendText(" ");
    Piece &piece = m_pieces.back();
    piece.hasLiteral = true;
    piece.literal = bytes.toByteArray();
    return *this;
}

Command &Command::raw(QByteArrayView text)
{
    appendText(text);
    return *this;
}

Command &Command::mailbox(const QString &name)
{
    return string(encodeMailboxName(name));
}

QByteArray Command::verb() const
{
    const QByteArray &text = m_pieces.front().text;
    const auto words = text.simplified().split(' ');
    QByteArray verb = words.value(0).toUpper();
    if (verb == "UID" && words.size() > 1)
        verb += ' ' + words.at(1).toUpper();
    return verb;
}

} // namespace imap
