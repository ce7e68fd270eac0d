#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// The MIME structure of an email as byte ranges of the file it was read from.
//
// Every part knows where its header lines, its body and the boundary lines
// around it lie, so that a change can copy whatever it keeps byte for byte:
// headers with odd bytes, lines that are not headers, line ends of either kind,
// multiparts without their closing boundary. Header values are interpreted
// elsewhere; this layer only finds them.
//
// The boundary rules are those common MIME readers apply: a delimiter is
// "--" boundary, optionally followed by blanks; an enclosing multipart's boundary
// also ends the parts inside it; the line break before a delimiter belongs to
// the delimiter (CR LF or LF, whichever precedes it).
namespace mime {

class HeaderMemo;

struct Span
{
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype size() const { return end - begin; }
};

struct HeaderField
{
    QByteArray name; // as written, without the blanks before the colon
    Span field;      // the whole field: name, value, folded lines and the last line break
    Span value;      // after the colon, up to (not including) the last line break
};

// A boundary line inside a multipart's body.
struct Delimiter
{
    qsizetype breakStart = 0; // the line break before it, which belongs to it
    qsizetype lineStart = 0;  // the "--"
    qsizetype lineEnd = 0;    // after its own line break (or the end of the data)
};

enum class NodeKind {
    Leaf,      // content of its own
    Multipart, // children between delimiters
    Message,   // an attached email: one child, the email inside
};

struct MimeNode
{
    NodeKind kind = NodeKind::Leaf;
    int parent = -1;
    int depth = 0;
    Span whole;       // from the first header byte to the end of the body
    Span headerBlock; // the header lines with their line breaks, lines that are not headers too
    Span body;        // what follows the blank line after the headers
    bool hasSeparator = false; // the headers ended with a blank line
    std::vector<HeaderField> headers;
    QByteArray mimeType; // lower case "type/subtype": declared, else the default
    QByteArray boundary; // multiparts only
    std::vector<int> children;
    std::vector<Delimiter> delimiters; // delimiters[i] opens children[i]
    // Delimiters directly followed by another boundary line: no part between them.
    std::vector<Delimiter> emptyDelimiters;
    std::optional<Delimiter> closeDelimiter;
    Span preamble; // multiparts: before the first delimiter
};

class MimeTree
{
public:
    // Multiparts nested deeper than this are kept whole and not looked into.
    static constexpr int maxDepth = 100;
    // Header values longer than this are cut before they are interpreted.
    static constexpr qsizetype maxInterpretedHeader = 64 * 1024;

    // With a memo, header values seen in earlier emails are not parsed again.
    explicit MimeTree(QByteArray data, HeaderMemo *memo = nullptr);

    const QByteArray &data() const { return m_data; }
    const std::vector<MimeNode> &nodes() const { return m_nodes; }
    const MimeNode &node(int index) const { return m_nodes[size_t(index)]; }
    const MimeNode &root() const { return m_nodes.front(); }
    // The email does not start with a header: it is read as plain text and never changed.
    bool malformed() const { return m_malformed; }

    QByteArray bytes(Span span) const { return m_data.mid(span.begin, span.size()); }
    QByteArrayView view(Span span) const
    {
        return QByteArrayView(m_data.constData() + span.begin, span.size());
    }
    // The raw value of the first field of this name (any case), without its last
    // line break; a null array when there is none.
    QByteArray headerValue(int node, QByteArrayView name) const;
    // The same, unfolded and cut to maxInterpretedHeader, ready to be interpreted.
    QByteArray interpretedHeader(int node, QByteArrayView name) const;
    // The parameter of the node's Content-Type ("charset", "boundary"), decoded.
    QByteArray contentTypeParameter(int node, const char *name) const;

    // The first boundary line of multipart index after pos; when none follows, an
    // empty one at the end of the multipart's body.
    Delimiter nextBoundaryAfter(int index, qsizetype pos) const;

    // The line break an inserted line should use next to this node: the one its
    // header block or first delimiter uses.
    QByteArray lineBreakOf(int node) const;

private:
    friend class MimeTreeParser;
    QByteArray m_data;
    std::vector<MimeNode> m_nodes;
    bool m_malformed = false;
};

} // namespace mime
