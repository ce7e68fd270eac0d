#pragma once

// Reads the server's byte stream into responses. Bytes come in any pieces (one at a time
// too); literals {n} and binary literals ~{n} may span reads. Sizes are bounded, so a
// hostile or broken server gets a clear ConnectionError instead of unbounded memory. An
// untagged FETCH may have longer lines (one email's structure with thousands of parts);
// one beyond even that bound, or nested too deep, is passed over to its end and given
// as a response that names its number and why it was not read, so the stream goes on.

#include "imap/ResponseValue.h"

#include <QByteArray>
#include <QByteArrayView>

#include <deque>
#include <optional>

namespace imap {

class ResponseParser
{
public:
    struct Limits
    {
        qsizetype maxLine = 1 << 20;       // bytes of one line between literals
        qsizetype maxFetchLine = 16 << 20; // the same in an untagged FETCH
        qint64 maxLiteral = 256ll << 20;   // bytes of one literal
        qint64 maxResponse = 512ll << 20;  // bytes of one whole response, literals included
        int maxDepth = 256;                // nesting of parenthesised lists
    };

    ResponseParser();
    explicit ResponseParser(Limits limits);

    // Takes more bytes from the server. Throws ConnectionError when they break the framing
    // or a limit; the parser is then unusable.
    void feed(QByteArrayView bytes);
    // The next complete response, or nothing while more bytes are needed. Throws
    // ConnectionError when the response is malformed.
    std::optional<Response> next();
    // Bytes have arrived that are not yet a whole response.
    bool hasPartialData() const { return !m_pending.isEmpty() || m_skipping; }
    // Anything at all is waiting: whole responses not yet taken, or part of one.
    bool hasBufferedData() const { return hasPartialData() || !m_complete.empty(); }

    // Parses one whole response without its final CRLF (literal bytes inline).
    static Response parse(QByteArrayView response, int maxDepth = 256);

private:
    // A response framed whole, or the start of one passed over with the reason.
    struct Framed
    {
        QByteArray text;
        QString unreadable;
    };

    void scan();
    // Starts passing over the response that begins at start, whose current line has
    // grown too long; keeps the line's last bytes from keepFrom on.
    void startSkipping(qsizetype start, qsizetype keepFrom);
    // Follows the passed-over response through its lines and literals, dropping its
    // bytes; true once it has ended.
    bool skip();

    Limits m_limits;
    QByteArray m_pending;      // the response being framed
    qsizetype m_scanned = 0;   // bytes of m_pending already looked at for a line end
    qsizetype m_lineStart = 0; // where the current line (after the last literal) starts
    qint64 m_literalLeft = 0;  // literal bytes still expected
    std::deque<Framed> m_complete;
    bool m_broken = false;
    bool m_skipping = false;  // a response is being passed over
    QByteArray m_skippedHead; // its first bytes, for its number
    QByteArray m_skippedTail; // the last bytes of its current line, for a literal's size
    qint64 m_skippedBytes = 0;
};

} // namespace imap
