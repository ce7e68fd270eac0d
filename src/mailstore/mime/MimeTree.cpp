#include "MimeTree.h"

#include "HeaderMemo.h"
#include "HeaderText.h"
#include "common/GObjectPtr.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cstring>

namespace mime {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isLinearWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A line of the data: [begin, textEnd) is its text without the line break,
// [begin, end) includes the break.
struct Line
{
    qsizetype begin = 0;
    qsizetype textEnd = 0;
    qsizetype end = 0;
    bool isEmpty() const { return textEnd == begin; }
};

enum class StopKind { EndOfData, Delimiter, Close };

// Where scanning content stopped: at a boundary line of some enclosing multipart
// (level indexes the boundary stack) or at the end of the data.
struct Stop
{
    StopKind kind = StopKind::EndOfData;
    int level = -1;
    Delimiter line;
};

} // namespace

class MimeTreeParser
{
public:
    MimeTreeParser(MimeTree &tree, HeaderMemo *memo)
        : m_tree(tree), m_data(tree.m_data.constData()), m_size(tree.m_data.size()), m_memo(memo)
    {
    }

    void parse()
    {
        m_tree.m_nodes.reserve(8);
        parsePart(0, -1, 0, QByteArrayLiteral("text/plain"), true);
    }

private:
    Line lineAt(qsizetype pos) const
    {
        const void *newline = std::memchr(m_data + pos, '\n', size_t(m_size - pos));
        Line line;
        line.begin = pos;
        if (!newline) {
            line.textEnd = line.end = m_size;
            return line;
        }
        line.end = static_cast<const char *>(newline) - m_data + 1;
        line.textEnd = line.end - 1;
        if (line.textEnd > pos && m_data[line.textEnd - 1] == '\r')
            --line.textEnd;
        return line;
    }

    // Whether text (one line without its break) is "--" boundary, or "--" boundary
    // "--" when closing, followed by blanks only.
    static bool matches(const char *text, qsizetype length, const QByteArray &boundary,
                        bool closing)
    {
        const qsizetype need = 2 + boundary.size() + (closing ? 2 : 0);
        if (length < need || std::memcmp(text + 2, boundary.constData(), size_t(boundary.size())))
            return false;
        if (closing && (text[need - 2] != '-' || text[need - 1] != '-'))
            return false;
        for (qsizetype i = need; i < length; ++i) {
            if (!isLinearWhiteSpace(text[i]))
                return false;
        }
        return true;
    }

    // The boundary a line is, innermost multipart first; contentStart bounds the
    // line break that the delimiter takes from the content before it.
    std::optional<Stop> boundaryAt(const Line &line, qsizetype contentStart) const
    {
        const qsizetype length = line.textEnd - line.begin;
        const char *text = m_data + line.begin;
        if (m_boundaries.empty() || length < 2 || text[0] != '-' || text[1] != '-')
            return std::nullopt;
        for (int level = int(m_boundaries.size()) - 1; level >= 0; --level) {
            const QByteArray &boundary = m_boundaries[size_t(level)];
            const bool closing = matches(text, length, boundary, true);
            if (closing || matches(text, length, boundary, false)) {
                Stop stop;
                stop.kind = closing ? StopKind::Close : StopKind::Delimiter;
                stop.level = level;
                stop.line.lineStart = line.begin;
                stop.line.lineEnd = line.end;
                stop.line.breakStart = line.begin;
                if (line.begin - 2 >= contentStart && m_data[line.begin - 1] == '\n' &&
                    m_data[line.begin - 2] == '\r')
                    stop.line.breakStart = line.begin - 2;
                else if (line.begin - 1 >= contentStart && m_data[line.begin - 1] == '\n')
                    stop.line.breakStart = line.begin - 1;
                return stop;
            }
        }
        return std::nullopt;
    }

    bool startsWithDashes(qsizetype pos) const
    {
        return pos + 1 < m_size && m_data[pos] == '-' && m_data[pos + 1] == '-';
    }

    // The start of the first line after the one starting at lineStart that begins with
    // "--", or -1. Only such lines can be boundaries; looking for the dashes skips whole
    // bodies at once (base64 has none) instead of going line by line.
    qsizetype nextDashedLine(qsizetype lineStart) const
    {
        qsizetype from = lineStart + 1;
        while (from < m_size) {
            const void *dash = std::memchr(m_data + from, '-', size_t(m_size - from));
            if (!dash)
                return -1;
            const qsizetype at = static_cast<const char *>(dash) - m_data;
            if (m_data[at - 1] == '\n' && startsWithDashes(at))
                return at;
            from = at + 1;
        }
        return -1;
    }

    // Reads content lines from pos to the next boundary line or the end of the data.
    Stop scanContent(qsizetype pos) const
    {
        const qsizetype contentStart = pos;
        for (qsizetype start = m_boundaries.empty() ? -1 : pos; start >= 0 && start < m_size;) {
            if (!startsWithDashes(start)) {
                start = nextDashedLine(start);
                continue;
            }
            const Line line = lineAt(start);
            if (const auto stop = boundaryAt(line, contentStart))
                return *stop;
            start = line.end;
        }
        Stop end;
        end.line.breakStart = end.line.lineStart = end.line.lineEnd = m_size;
        return end;
    }

    static bool isFieldStart(const char *text, qsizetype length)
    {
        bool blank = false;
        for (qsizetype i = 0; i < length; ++i) {
            const char c = text[i];
            if (c == ':')
                return i > 0;
            if (isBlank(c))
                blank = true;
            else if (blank || uchar(c) < 32 || c == 127)
                return false;
        }
        return false;
    }

    // Reads the header block at pos into node; returns the boundary that cut it
    // short, if one did.
    std::optional<Stop> readHeaders(MimeNode &node, qsizetype pos, bool topLevel)
    {
        node.headerBlock.begin = pos;
        bool inField = false; // the last line began a field that may be folded on
        bool inJunk = false;  // the last line was not a header; folded lines join it
        bool firstLine = true;
        while (pos < m_size) {
            const Line line = lineAt(pos);
            if (line.isEmpty() && line.end > line.begin) {
                node.headerBlock.end = line.begin;
                node.body.begin = line.end;
                node.hasSeparator = true;
                return std::nullopt;
            }
            if (const auto stop = boundaryAt(line, line.begin)) {
                node.headerBlock.end = node.body.begin = line.begin;
                return stop;
            }
            const char *text = m_data + line.begin;
            const qsizetype length = line.textEnd - line.begin;
            if (length > 0 && isBlank(text[0]) && (inField || inJunk)) {
                if (inField) {
                    node.headers.back().field.end = line.end;
                    node.headers.back().value.end = line.textEnd;
                }
            } else if (isFieldStart(text, length)) {
                const char *colon =
                    static_cast<const char *>(std::memchr(text, ':', size_t(length)));
                qsizetype nameEnd = colon - text;
                while (nameEnd > 0 && isBlank(text[nameEnd - 1]))
                    --nameEnd;
                HeaderField field;
                field.name = QByteArray(text, nameEnd);
                field.field = {line.begin, line.end};
                field.value = {line.begin + (colon - text) + 1, line.textEnd};
                node.headers.push_back(std::move(field));
                inField = true;
                inJunk = false;
            } else if (topLevel && firstLine &&
                       !(length >= 5 && std::memcmp(text, "From ", 5) == 0)) {
                // Not an email: everything is text.
                m_tree.m_malformed = true;
                node.headerBlock.end = node.body.begin = line.begin;
                return std::nullopt;
            } else {
                inField = false;
                inJunk = true;
            }
            firstLine = false;
            pos = line.end;
        }
        node.headerBlock.end = node.body.begin = m_size;
        return Stop{StopKind::EndOfData, -1, {m_size, m_size, m_size}};
    }

    // The declared type, and the boundary when it is a multipart.
    void readContentType(MimeNode &node, const QByteArray &defaultType) const
    {
        for (const HeaderField &field : node.headers) {
            if (field.name.compare("Content-Type", Qt::CaseInsensitive) != 0)
                continue;
            const QByteArray value =
                unfold(m_tree.bytes(field.value).left(MimeTree::maxInterpretedHeader));
            const HeaderMemo::ContentType type =
                m_memo ? m_memo->contentType(value) : HeaderMemo::parseContentType(value);
            // A type that is not valid is text/plain (RFC 2045 5.2).
            node.mimeType =
                type.mimeType.isNull() ? QByteArrayLiteral("text/plain") : type.mimeType;
            node.boundary = type.boundary;
            return;
        }
        node.mimeType = defaultType;
    }

    static bool isEncodedTransfer(const QByteArray &encoding)
    {
        const QByteArray value = encoding.trimmed().toLower();
        return value == "base64" || value == "quoted-printable" || value == "x-uuencode" ||
               value == "uuencode" || value == "x-uue";
    }

    static bool isEmbeddedEmailType(const QByteArray &type)
    {
        return type == "message/rfc822" || type == "message/rfc2822" || type == "message/global" ||
               type == "message/news";
    }

    // Parses the part starting at pos; returns its node's index and where it stopped.
    std::pair<int, Stop> parsePart(qsizetype pos, int parent, int depth,
                                   const QByteArray &defaultType, bool topLevel)
    {
        const int index = int(m_tree.m_nodes.size());
        m_tree.m_nodes.emplace_back();
        MimeNode node;
        node.parent = parent;
        node.depth = depth;
        node.whole.begin = pos;
        const std::optional<Stop> cut = readHeaders(node, pos, topLevel);
        readContentType(node, defaultType);
        if (node.mimeType.startsWith("multipart/"))
            node.kind = NodeKind::Multipart;

        Stop stop;
        if (cut) {
            stop = *cut;
            node.body.end = node.body.begin;
        } else if (node.kind == NodeKind::Multipart) {
            m_tree.m_nodes[size_t(index)] = std::move(node);
            stop = parseMultipart(index, depth);
            m_tree.m_nodes[size_t(index)].whole.end = stop.line.breakStart;
            return {index, stop};
        } else if (isEmbeddedEmailType(node.mimeType) && depth < MimeTree::maxDepth &&
                   !isEncodedTransfer(headerOf(node, "Content-Transfer-Encoding"))) {
            node.kind = NodeKind::Message;
            m_tree.m_nodes[size_t(index)] = std::move(node);
            const qsizetype bodyStart = m_tree.m_nodes[size_t(index)].body.begin;
            const Line first = lineAt(bodyStart);
            std::optional<Stop> empty =
                bodyStart < m_size ? boundaryAt(first, bodyStart) : std::nullopt;
            // A line break alone before a boundary line is that line's, as it is after
            // any content: nothing is attached.
            if (!empty && first.isEmpty() && first.end > first.begin && first.end < m_size)
                empty = boundaryAt(lineAt(first.end), bodyStart);
            if (empty) {
                stop = *empty;
            } else {
                auto [child, childStop] =
                    parsePart(bodyStart, index, depth + 1, QByteArrayLiteral("text/plain"), false);
                m_tree.m_nodes[size_t(index)].children.push_back(child);
                stop = childStop;
            }
            MimeNode &stored = m_tree.m_nodes[size_t(index)];
            stored.body.end = std::max(stored.body.begin, stop.line.breakStart);
            stored.whole.end = stored.body.end;
            return {index, stop};
        } else {
            if (isEmbeddedEmailType(node.mimeType))
                node.mimeType = QByteArrayLiteral("application/octet-stream");
            stop = scanContent(node.body.begin);
            node.body.end = stop.line.breakStart;
        }
        node.whole.end = std::max(node.body.end, node.headerBlock.end);
        m_tree.m_nodes[size_t(index)] = std::move(node);
        return {index, stop};
    }

    QByteArray headerOf(const MimeNode &node, const char *name) const
    {
        for (const HeaderField &field : node.headers) {
            if (field.name.compare(name, Qt::CaseInsensitive) == 0)
                return m_tree.bytes(field.value);
        }
        return {};
    }

    Stop parseMultipart(int index, int depth)
    {
        MimeNode *node = &m_tree.m_nodes[size_t(index)];
        const qsizetype bodyStart = node->body.begin;
        if (node->boundary.isEmpty() || depth >= MimeTree::maxDepth) {
            // No way (or no sense) to look inside: the whole body is preamble.
            const Stop stop = scanContent(bodyStart);
            node->body.end = node->preamble.end = stop.line.breakStart;
            node->preamble.begin = bodyStart;
            return stop;
        }
        m_boundaries.push_back(node->boundary);
        const int level = int(m_boundaries.size()) - 1;
        const QByteArray childDefault = node->mimeType == "multipart/digest"
                                            ? QByteArrayLiteral("message/rfc822")
                                            : QByteArrayLiteral("text/plain");
        Stop stop = scanContent(bodyStart);
        node->preamble = {bodyStart, stop.line.breakStart};
        while (stop.kind == StopKind::Delimiter && stop.level == level) {
            const Delimiter opening = stop.line;
            const qsizetype partStart = opening.lineEnd;
            // Nothing between two delimiters, or after the last line: no part, as
            // other readers see it.
            std::optional<Stop> empty;
            if (partStart >= m_size)
                empty = Stop{StopKind::EndOfData, -1, {m_size, m_size, m_size}};
            else
                empty = boundaryAt(lineAt(partStart), partStart);
            if (empty) {
                m_tree.m_nodes[size_t(index)].delimiters.push_back(opening);
                m_tree.m_nodes[size_t(index)].children.push_back(-1);
                stop = *empty;
                continue;
            }
            auto [child, childStop] = parsePart(partStart, index, depth + 1, childDefault, false);
            node = &m_tree.m_nodes[size_t(index)];
            node->delimiters.push_back(opening);
            node->children.push_back(child);
            stop = childStop;
        }
        m_boundaries.pop_back();
        node = &m_tree.m_nodes[size_t(index)];
        if (stop.kind == StopKind::Close && stop.level == level) {
            node->closeDelimiter = stop.line;
            // The epilogue runs to an enclosing boundary or the end of the data.
            stop = scanContent(stop.line.lineEnd);
        }
        node->body.end = std::max(bodyStart, stop.line.breakStart);
        return stop;
    }

    MimeTree &m_tree;
    const char *m_data;
    qsizetype m_size;
    HeaderMemo *m_memo;
    std::vector<QByteArray> m_boundaries;
};

MimeTree::MimeTree(QByteArray data, HeaderMemo *memo) : m_data(std::move(data))
{
    MimeTreeParser(*this, memo).parse();
    // A delimiter followed at once by another boundary line opens no part.
    for (MimeNode &node : m_nodes) {
        if (node.kind != NodeKind::Multipart)
            continue;
        std::vector<int> children;
        std::vector<Delimiter> delimiters;
        for (size_t i = 0; i < node.children.size(); ++i) {
            if (node.children[i] >= 0) {
                children.push_back(node.children[i]);
                delimiters.push_back(node.delimiters[i]);
            } else {
                node.emptyDelimiters.push_back(node.delimiters[i]);
            }
        }
        node.children = std::move(children);
        node.delimiters = std::move(delimiters);
    }
}

Delimiter MimeTree::nextBoundaryAfter(int index, qsizetype pos) const
{
    const MimeNode &part = node(index);
    Delimiter next{part.body.end, part.body.end, part.body.end};
    const auto consider = [&](const Delimiter &delimiter) {
        if (delimiter.lineStart > pos && delimiter.lineStart < next.lineStart)
            next = delimiter;
    };
    // Both lists are in the order of the data.
    const auto firstAfter = [&](const std::vector<Delimiter> &delimiters) {
        const auto found = std::upper_bound(delimiters.begin(), delimiters.end(), pos,
                                            [](qsizetype value, const Delimiter &delimiter) {
                                                return value < delimiter.lineStart;
                                            });
        if (found != delimiters.end())
            consider(*found);
    };
    firstAfter(part.delimiters);
    firstAfter(part.emptyDelimiters);
    if (part.closeDelimiter)
        consider(*part.closeDelimiter);
    return next;
}

QByteArray MimeTree::headerValue(int index, QByteArrayView name) const
{
    for (const HeaderField &field : node(index).headers) {
        if (field.name.compare(name, Qt::CaseInsensitive) == 0)
            return bytes(field.value);
    }
    return {};
}

QByteArray MimeTree::interpretedHeader(int index, QByteArrayView name) const
{
    const QByteArray raw = headerValue(index, name);
    if (raw.isNull())
        return raw;
    return unfold(raw.left(maxInterpretedHeader));
}

QByteArray MimeTree::contentTypeParameter(int index, const char *name) const
{
    const QByteArray value = interpretedHeader(index, "Content-Type");
    if (value.isEmpty())
        return {};
    qb::GObjectPtr<GMimeContentType> type(g_mime_content_type_parse(nullptr, value.constData()));
    const char *parameter = type ? g_mime_content_type_get_parameter(type.get(), name) : nullptr;
    return parameter ? QByteArray(parameter) : QByteArray();
}

QByteArray MimeTree::lineBreakOf(int index) const
{
    const MimeNode &part = node(index);
    const Span first = part.delimiters.empty() ? part.headerBlock
                                               : Span{part.delimiters.front().lineStart,
                                                      part.delimiters.front().lineEnd};
    const qsizetype newline = m_data.indexOf('\n', first.begin);
    if (newline > 0 && newline < std::max(first.end, first.begin + 1) &&
        m_data[newline - 1] == '\r')
        return QByteArrayLiteral("\r\n");
    if (newline < 0 && m_data.contains("\r\n"))
        return QByteArrayLiteral("\r\n");
    return QByteArrayLiteral("\n");
}

} // namespace mime
