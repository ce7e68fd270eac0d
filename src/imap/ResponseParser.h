#pragma once

// Reads the server's byte stream into responses. Bytes come in any pieces (one at a time
// too); literals {n} and binary literals ~{n} may span reads. Sizes are bounded, so a
// hostile or broken server gets a clear ConnectionError instead of unbounded memory.

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
        qsizetype maxLine = 1 << 20;      // bytes of one line between literals
        qint64 maxLiteral = 256ll << 20;  // bytes of one literal
        qint64 maxResponse = 512ll << 20; // bytes of one whole response, literals included
        int maxDepth = 256;               // nesting of parenthesised lists
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
    bool hasPartialData() const { return !m_pending.isEmpty(); }
    // Anything at all is waiting: whole responses not yet taken, or part of one.
    bool hasBufferedData() const { return !m_pending.isEmpty() || !m_complete.empty(); }

    // Parses one whole response without its final CRLF (literal bytes inline).
    static Response parse(QByteArrayView response, int maxDepth = 256);

private:
    void scan();

    Limits m_limits;
    QByteArray m_pending;      // the response being framed
    qsizetype m_scanned = 0;   // bytes of m_pending already looked at for a line end
    qsizetype m_lineStart = 0; // where the current line (after the last literal) starts
    qint64 m_literalLeft = 0;  // literal bytes still expected
    std::deque<QByteArray> m_complete;
    bool m_broken = false;
};

} // namespace imap
