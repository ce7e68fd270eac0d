#pragma once

// Builds a command's arguments (the text after the tag) so that strings from outside can
// never break it: text that cannot be quoted goes as a literal, and nothing given as an
// atom or raw text may hold a line break.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace imap {

class Command
{
public:
    // e.g. "UID FETCH 1:* (UID BODYSTRUCTURE)". Throws qb::MailStoreError on CR, LF or NUL.
    explicit Command(QByteArrayView verbAndAtoms);

    Command &atom(QByteArrayView atom);     // appended after a space
    Command &string(QByteArrayView bytes);  // quoted if safe 7-bit text, else a literal
    Command &literal(QByteArrayView bytes); // always a literal, after a space
    Command &raw(QByteArrayView text);      // appended as is (parentheses, flag lists)
    Command &mailbox(const QString &name);  // modified UTF-7, then string()

    // The command's verb ("LOGIN", "UID FETCH"), for messages: never the arguments.
    QByteArray verb() const;

    // The pieces to send: text, then (when literal is set) a literal's bytes after it.
    struct Piece
    {
        QByteArray text;
        bool hasLiteral = false;
        QByteArray literal;
    };
    const std::vector<Piece> &pieces() const { return m_pieces; }

private:
    void appendText(QByteArrayView text);

    std::vector<Piece> m_pieces;
};

} // namespace imap
