#include "imap/ResponseParser.h"

#include "imap/ImapError.h"

#include <utility>

namespace imap {

namespace {

[[noreturn]] void protocolError(const QString &what)
{
    throw ConnectionError(QStringLiteral("IMAP protocol error: %1").arg(what));
}

// Lists nested deeper than the parser follows: only this response is lost.
class NestedTooDeep : public ConnectionError
{
public:
    using ConnectionError::ConnectionError;
};

// Bytes of a line's end kept while a response is passed over: enough for "{n+}".
constexpr qsizetype keptLineEnd = 32;

// "* 12 FETCH ..." at the start of text.
bool isUntaggedFetch(QByteArrayView text)
{
    if (!text.startsWith("* "))
        return false;
    qsizetype at = 2;
    while (at < text.size() && text.at(at) >= '0' && text.at(at) <= '9')
        ++at;
    if (at == 2 || at >= text.size() || text.at(at) != ' ')
        return false;
    const QByteArrayView name = text.sliced(at + 1).first(qMin<qsizetype>(5, text.size() - at - 1));
    if (name.compare("FETCH", Qt::CaseInsensitive) != 0)
        return false;
    const qsizetype after = at + 6;
    return after >= text.size() || text.at(after) == ' ' || text.at(after) == '(';
}

// What is known of an untagged FETCH that was not read: its number.
Response unreadFetch(QByteArrayView head, const QString &why)
{
    Response response;
    response.name = "FETCH";
    qsizetype end = 2;
    while (end < head.size() && head.at(end) >= '0' && head.at(end) <= '9')
        ++end;
    bool ok = false;
    response.number = head.sliced(2, end - 2).toLongLong(&ok);
    if (!ok)
        response.number = -1;
    response.unreadable = why;
    return response;
}

// The start of a response, printable, for an error message.
QString excerpt(QByteArrayView response)
{
    QString text;
    for (const char c : response.first(qMin<qsizetype>(response.size(), 60))) {
        const auto u = static_cast<unsigned char>(c);
        text += u >= 0x20 && u < 0x7f ? QChar(char16_t(u)) : QChar(u'?');
    }
    if (response.size() > 60)
        text += QStringLiteral("...");
    return text;
}

// A literal's announced size when the line (without its line end) ends in {n}, {n+} or
// ~{n}; -1 when it does not. Sizes of more than 15 digits count as too big.
qint64 literalAtLineEnd(QByteArrayView line, bool *tooLong)
{
    *tooLong = false;
    if (line.isEmpty() || line.back() != '}')
        return -1;
    qsizetype end = line.size() - 1;
    if (end > 0 && line.at(end - 1) == '+')
        --end;
    qsizetype open = end;
    while (open > 0 && line.at(open - 1) >= '0' && line.at(open - 1) <= '9')
        --open;
    if (open == end || open == 0 || line.at(open - 1) != '{')
        return -1;
    if (end - open > 15) {
        *tooLong = true;
        return -1;
    }
    return line.sliced(open, end - open).toLongLong();
}

bool isStatusName(QByteArrayView name)
{
    return name == "OK" || name == "NO" || name == "BAD" || name == "BYE" || name == "PREAUTH";
}

// Recursive descent over one whole response, literal bytes inline after their "{n}\r\n".
class Reader
{
public:
    Reader(QByteArrayView text, int maxDepth) : m_text(text), m_maxDepth(maxDepth) {}

    Response response()
    {
        Response response;
        if (m_text.startsWith('+')) {
            response.type = Response::Type::Continuation;
            m_pos = 1;
            skipOneSpace();
            response.text = rest();
            return response;
        }
        if (m_text.startsWith("* ")) {
            m_pos = 2;
            QByteArray first = word("a response name");
            bool numeric = false;
            const qint64 number = Value{Value::Kind::Atom, first, {}}.number(&numeric);
            if (numeric) {
                response.number = number;
                expectSpace();
                first = word("a response name");
            }
            response.name = first.toUpper();
            if (isStatusName(response.name) && response.number < 0)
                statusText(response);
            else
                response.values = valuesToEnd();
            return response;
        }
        response.type = Response::Type::Tagged;
        response.tag = word("a tag");
        expectSpace();
        response.name = word("a status").toUpper();
        if (response.name != "OK" && response.name != "NO" && response.name != "BAD")
            fail(QStringLiteral("a tagged response that is not OK, NO or BAD"));
        statusText(response);
        return response;
    }

private:
    [[noreturn]] void fail(const QString &what) const
    {
        protocolError(
            QStringLiteral("%1 at byte %2 of \"%3\"").arg(what).arg(m_pos).arg(excerpt(m_text)));
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return m_text.at(m_pos); }

    void expectSpace()
    {
        if (atEnd() || peek() != ' ')
            fail(QStringLiteral("a space expected"));
        while (!atEnd() && peek() == ' ')
            ++m_pos;
    }

    void skipOneSpace()
    {
        if (!atEnd() && peek() == ' ')
            ++m_pos;
    }

    QByteArray rest()
    {
        const QByteArray text = m_text.sliced(m_pos).toByteArray();
        m_pos = m_text.size();
        return text;
    }

    static bool endsAtom(char c, bool inCode)
    {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f || c == ' ' || c == '(' || c == ')' || c == '"' || c == '{' ||
               (inCode && c == ']');
    }

    // A tag, a name or a code: atom characters, never empty.
    QByteArray word(const char *what)
    {
        const qsizetype start = m_pos;
        while (!atEnd() && !endsAtom(peek(), true) && peek() != '[')
            ++m_pos;
        if (m_pos == start)
            fail(QStringLiteral("%1 expected").arg(QLatin1String(what)));
        return m_text.sliced(start, m_pos - start).toByteArray();
    }

    // An atom; outside a response code "[...]" belongs to it with whatever it holds, as in
    // BODY[HEADER.FIELDS (FROM TO)]<0>.
    Value atom(bool inCode)
    {
        const qsizetype start = m_pos;
        while (!atEnd()) {
            const char c = peek();
            if (c == '[' && !inCode) {
                skipBracket();
                continue;
            }
            if (endsAtom(c, inCode))
                break;
            ++m_pos;
        }
        if (m_pos == start)
            fail(atEnd() ? QStringLiteral("a value expected at the end")
                         : QStringLiteral("unexpected '%1'")
                               .arg(QChar(char16_t(static_cast<unsigned char>(peek())))));
        Value value;
        value.text = m_text.sliced(start, m_pos - start).toByteArray();
        value.kind = value.text.compare("NIL", Qt::CaseInsensitive) == 0 ? Value::Kind::Nil
                                                                         : Value::Kind::Atom;
        if (value.isNil())
            value.text.clear();
        return value;
    }

    void skipBracket()
    {
        int depth = 0;
        while (!atEnd()) {
            const char c = peek();
            ++m_pos;
            if (c == '[') {
                ++depth;
            } else if (c == ']') {
                if (--depth == 0)
                    return;
            } else if (c == '"') {
                quotedBody();
            } else if (c == '\r' || c == '\n') {
                break;
            }
        }
        fail(QStringLiteral("an unclosed '['"));
    }

    // After the opening quote: the text up to the closing one, with \" and \\ unescaped.
    QByteArray quotedBody()
    {
        QByteArray text;
        while (!atEnd()) {
            char c = peek();
            ++m_pos;
            if (c == '"')
                return text;
            if (c == '\r' || c == '\n')
                break;
            if (c == '\\') {
                if (atEnd())
                    break;
                c = peek();
                ++m_pos;
            }
            text += c;
        }
        fail(QStringLiteral("an unterminated quoted string"));
    }

    Value literal()
    {
        if (peek() == '~')
            ++m_pos;
        ++m_pos; // '{'
        const qsizetype digits = m_pos;
        while (!atEnd() && peek() >= '0' && peek() <= '9')
            ++m_pos;
        const qsizetype digitCount = m_pos - digits;
        if (digitCount == 0 || digitCount > 15)
            fail(QStringLiteral("a malformed literal size"));
        const qint64 size = m_text.sliced(digits, digitCount).toLongLong();
        if (!atEnd() && peek() == '+')
            ++m_pos;
        if (atEnd() || peek() != '}')
            fail(QStringLiteral("a malformed literal size"));
        ++m_pos;
        if (m_text.sliced(m_pos).startsWith("\r\n"))
            m_pos += 2;
        else if (!atEnd() && peek() == '\n')
            ++m_pos;
        else
            fail(QStringLiteral("a literal size not at the end of its line"));
        if (size > m_text.size() - m_pos)
            fail(QStringLiteral("a literal shorter than announced"));
        Value value;
        value.kind = Value::Kind::String;
        value.text = m_text.sliced(m_pos, size).toByteArray();
        m_pos += size;
        return value;
    }

    Value value(int depth, bool inCode)
    {
        if (atEnd())
            fail(QStringLiteral("a value expected at the end"));
        const char c = peek();
        if (c == '(')
            return list(depth + 1, inCode);
        if (c == '"') {
            ++m_pos;
            Value value;
            value.kind = Value::Kind::String;
            value.text = quotedBody();
            return value;
        }
        if (c == '{' || (c == '~' && m_pos + 1 < m_text.size() && m_text.at(m_pos + 1) == '{'))
            return literal();
        return atom(inCode);
    }

    Value list(int depth, bool inCode)
    {
        if (depth > m_maxDepth) {
            throw NestedTooDeep(QStringLiteral("IMAP protocol error: lists nested deeper than "
                                               "%1 at byte %2 of \"%3\"")
                                    .arg(m_maxDepth)
                                    .arg(m_pos)
                                    .arg(excerpt(m_text)));
        }
        ++m_pos; // '('
        Value list;
        list.kind = Value::Kind::List;
        while (true) {
            while (!atEnd() && peek() == ' ')
                ++m_pos;
            if (atEnd())
                fail(QStringLiteral("an unclosed '('"));
            if (peek() == ')') {
                ++m_pos;
                return list;
            }
            list.list.push_back(value(depth, inCode));
        }
    }

    std::vector<Value> valuesToEnd()
    {
        std::vector<Value> values;
        while (!atEnd()) {
            expectSpace();
            if (atEnd())
                break;
            values.push_back(value(0, false));
        }
        return values;
    }

    // resp-text: an optional "[CODE args]", then human-readable text.
    void statusText(Response &response)
    {
        skipOneSpace();
        if (!atEnd() && peek() == '[') {
            ++m_pos;
            response.code = word("a response code").toUpper();
            const qsizetype argsStart = m_pos;
            try {
                while (!atEnd() && peek() == ' ') {
                    expectSpace();
                    if (!atEnd() && peek() != ']')
                        response.codeArgs.push_back(value(0, true));
                }
                if (atEnd() || peek() != ']')
                    fail(QStringLiteral("an unclosed response code"));
            } catch (const ConnectionError &) {
                // Codes of unknown forms are kept as one atom: the text is for people.
                m_pos = argsStart;
                const qsizetype close = m_text.indexOf(']', m_pos);
                if (close < 0)
                    throw;
                response.codeArgs.clear();
                Value whole;
                whole.kind = Value::Kind::Atom;
                whole.text = m_text.sliced(m_pos, close - m_pos).trimmed().toByteArray();
                if (!whole.text.isEmpty())
                    response.codeArgs.push_back(whole);
                m_pos = close;
            }
            ++m_pos; // ']'
            skipOneSpace();
        }
        response.text = rest();
    }

    QByteArrayView m_text;
    qsizetype m_pos = 0;
    int m_maxDepth;
};

} // namespace

ResponseParser::ResponseParser() : ResponseParser(Limits{}) {}

ResponseParser::ResponseParser(Limits limits) : m_limits(limits) {}

void ResponseParser::feed(QByteArrayView bytes)
{
    if (m_broken)
        protocolError(QStringLiteral("the response stream was already broken"));
    m_pending.append(bytes);
    try {
        scan();
    } catch (...) {
        m_broken = true;
        throw;
    }
}

void ResponseParser::scan()
{
    if (m_skipping) {
        if (!skip())
            return;
        // The skipped response is gone from m_pending: the next one begins it.
        m_scanned = 0;
        m_lineStart = 0;
    }
    qsizetype start = 0; // where the current response begins in m_pending
    while (true) {
        if (m_literalLeft > 0) {
            const qint64 available = m_pending.size() - m_scanned;
            const qint64 taken = qMin(available, m_literalLeft);
            m_scanned += taken;
            m_literalLeft -= taken;
            if (m_literalLeft > 0)
                break;
            m_lineStart = m_scanned;
        }
        const qsizetype lineEnd = m_pending.indexOf('\n', m_scanned);
        const qsizetype lineLength = (lineEnd < 0 ? m_pending.size() : lineEnd) - m_lineStart;
        if (lineLength > m_limits.maxLine) {
            const QByteArrayView head = QByteArrayView(m_pending).sliced(start);
            if (!isUntaggedFetch(head.first(qMin<qsizetype>(head.size(), 64))))
                protocolError(QStringLiteral("a line longer than %1 bytes").arg(m_limits.maxLine));
            if (lineLength > m_limits.maxFetchLine) {
                const qsizetype end = lineEnd < 0 ? m_pending.size() : lineEnd;
                startSkipping(start, qMax(m_lineStart, end - keptLineEnd));
                if (!skip())
                    return;
                start = 0;
                m_scanned = 0;
                m_lineStart = 0;
                continue;
            }
        }
        if (lineEnd < 0) {
            m_scanned = m_pending.size();
            break;
        }
        qsizetype contentEnd = lineEnd;
        if (contentEnd > m_lineStart && m_pending.at(contentEnd - 1) == '\r')
            --contentEnd;
        bool tooLong = false;
        const qint64 literal = literalAtLineEnd(
            QByteArrayView(m_pending).sliced(m_lineStart, contentEnd - m_lineStart), &tooLong);
        if (tooLong || literal > m_limits.maxLiteral)
            protocolError(QStringLiteral("a literal of more than %1 bytes announced")
                              .arg(m_limits.maxLiteral));
        if (literal >= 0) {
            if (lineEnd + 1 - start + literal > m_limits.maxResponse)
                protocolError(
                    QStringLiteral("a response of more than %1 bytes").arg(m_limits.maxResponse));
            m_scanned = lineEnd + 1;
            m_lineStart = m_scanned;
            m_literalLeft = literal;
            continue;
        }
        if (start == 0 && lineEnd + 1 == m_pending.size()) {
            m_pending.truncate(contentEnd);
            m_complete.push_back({std::move(m_pending), {}});
            m_pending = QByteArray();
            start = 0;
        } else {
            m_complete.push_back({m_pending.mid(start, contentEnd - start), {}});
            start = lineEnd + 1;
        }
        m_scanned = start;
        m_lineStart = start;
    }
    if (start > 0) {
        m_pending.remove(0, start);
        m_scanned -= start;
        m_lineStart -= start;
    }
}

void ResponseParser::startSkipping(qsizetype start, qsizetype keepFrom)
{
    m_skipping = true;
    m_skippedHead = m_pending.mid(start, 64);
    m_skippedTail.clear();
    m_skippedBytes = keepFrom - start;
    // What came before start is framed already.
    m_pending.remove(0, keepFrom);
}

bool ResponseParser::skip()
{
    while (true) {
        if (m_literalLeft > 0) {
            const qint64 taken = qMin<qint64>(m_pending.size(), m_literalLeft);
            m_pending.remove(0, taken);
            m_literalLeft -= taken;
            m_skippedBytes += taken;
            if (m_literalLeft > 0)
                return false;
            m_skippedTail.clear();
        }
        const qsizetype lineEnd = m_pending.indexOf('\n');
        if (lineEnd < 0) {
            m_skippedBytes += m_pending.size();
            m_skippedTail = (m_skippedTail + m_pending).right(keptLineEnd);
            m_pending.clear();
            if (m_skippedBytes > m_limits.maxResponse)
                protocolError(
                    QStringLiteral("a response of more than %1 bytes").arg(m_limits.maxResponse));
            return false;
        }
        QByteArray lineEndBytes = (m_skippedTail + m_pending.first(lineEnd)).right(keptLineEnd);
        m_skippedTail.clear();
        m_skippedBytes += lineEnd + 1;
        m_pending.remove(0, lineEnd + 1);
        if (lineEndBytes.endsWith('\r'))
            lineEndBytes.chop(1);
        bool tooLong = false;
        const qint64 literal = literalAtLineEnd(lineEndBytes, &tooLong);
        if (tooLong || literal > m_limits.maxLiteral)
            protocolError(QStringLiteral("a literal of more than %1 bytes announced")
                              .arg(m_limits.maxLiteral));
        if (m_skippedBytes + qMax<qint64>(literal, 0) > m_limits.maxResponse)
            protocolError(
                QStringLiteral("a response of more than %1 bytes").arg(m_limits.maxResponse));
        if (literal >= 0) {
            m_literalLeft = literal;
            continue;
        }
        m_complete.push_back(
            {std::exchange(m_skippedHead, {}),
             QStringLiteral("the IMAP server's description of it is too large to read (a line "
                            "of more than %1 bytes)")
                 .arg(m_limits.maxFetchLine)});
        m_skipping = false;
        return true;
    }
}

std::optional<Response> ResponseParser::next()
{
    if (m_complete.empty())
        return std::nullopt;
    Framed framed = std::move(m_complete.front());
    m_complete.pop_front();
    if (framed.unreadable.isEmpty()) {
        try {
            return parse(framed.text, m_limits.maxDepth);
        } catch (const NestedTooDeep &) {
            // Deep nesting is no break in the stream: only this email's structure is lost.
            if (!isUntaggedFetch(framed.text))
                throw;
            framed.unreadable =
                QStringLiteral("the IMAP server's description of it nests lists deeper than %1")
                    .arg(m_limits.maxDepth);
        }
    }
    return unreadFetch(framed.text, framed.unreadable);
}

Response ResponseParser::parse(QByteArrayView response, int maxDepth)
{
    if (response.isEmpty())
        protocolError(QStringLiteral("an empty line where a response was expected"));
    return Reader(response, maxDepth).response();
}

} // namespace imap
