#include "UndoPatch.h"

#include "common/Error.h"

#include <QCryptographicHash>

#include <algorithm>

namespace undo {

namespace {

bool isBlankOrBreak(char c)
{
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

// The shape of an encoded body, as far as its first line and its end tell it.
BodyShape shapeOf(QByteArrayView body, mime::Transfer transfer)
{
    BodyShape shape;
    if (transfer != mime::Transfer::Base64)
        return shape;
    shape.encoding = BodyShape::Encoding::Base64;
    qsizetype coreEnd = body.size();
    while (coreEnd > 0 && isBlankOrBreak(body[coreEnd - 1]))
        --coreEnd;
    shape.tail = body.sliced(coreEnd).toByteArray();
    const QByteArrayView core = body.first(coreEnd);
    const qsizetype lineFeed = core.indexOf('\n');
    shape.lineBreak = QByteArrayLiteral("\r\n");
    if (lineFeed >= 0) {
        const bool crlf = lineFeed > 0 && core[lineFeed - 1] == '\r';
        shape.lineBreak = crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
        shape.lineLength = int(crlf ? lineFeed - 1 : lineFeed);
    }
    return shape;
}

QByteArray hexSha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

struct BodyInSpan
{
    mime::Span body;
    int file;
    BodyShape shape;
};

} // namespace

QByteArray encodedBody(const QByteArray &content, const BodyShape &shape)
{
    if (shape.encoding == BodyShape::Encoding::AsIs)
        return content + shape.tail;
    const QByteArray base64 = content.toBase64();
    if (shape.lineLength <= 0)
        return base64 + shape.tail;
    QByteArray body;
    body.reserve(base64.size() + base64.size() / shape.lineLength * shape.lineBreak.size() +
                 shape.tail.size());
    for (qsizetype at = 0; at < base64.size(); at += shape.lineLength) {
        if (at > 0)
            body += shape.lineBreak;
        body += QByteArrayView(base64).sliced(
            at, std::min<qsizetype>(shape.lineLength, base64.size() - at));
    }
    return body + shape.tail;
}

std::vector<ReversedSpan> reversalOf(const mailstore::EmailRewrite &rewrite,
                                     const std::map<int, int> &fileOfPosition,
                                     const std::vector<SavedFileRef> &savedFiles)
{
    const mime::MimeTree &tree = rewrite.original.tree();
    // The removed bodies that their saved files rebuild exactly.
    std::vector<BodyInSpan> rebuilt;
    for (const auto &[position, node] : rewrite.removed) {
        const auto file = fileOfPosition.find(position);
        const mime::Span body = tree.node(node).body;
        if (file == fileOfPosition.end() || body.size() == 0)
            continue;
        const QByteArray content = rewrite.original.decodedContent(node);
        if (hexSha256(content) != savedFiles[size_t(file->second)].sha256)
            continue;
        const BodyShape shape = shapeOf(tree.view(body), rewrite.original.transferOf(node));
        if (encodedBody(content, shape) == tree.view(body))
            rebuilt.push_back({body, file->second, shape});
    }
    std::sort(rebuilt.begin(), rebuilt.end(),
              [](const auto &a, const auto &b) { return a.body.begin < b.body.begin; });

    std::vector<ReversedSpan> spans;
    for (const mime::ChangedSpan &change : rewrite.changes) {
        ReversedSpan span{change.rewritten.begin, change.rewritten.size(), {}};
        qsizetype done = change.original.begin;
        for (const BodyInSpan &body : rebuilt) {
            if (body.body.begin < done || body.body.end > change.original.end)
                continue;
            if (body.body.begin > done)
                span.removed.push_back({tree.bytes({done, body.body.begin}), -1, {}});
            span.removed.push_back({{}, body.file, body.shape});
            done = body.body.end;
        }
        if (done < change.original.end)
            span.removed.push_back({tree.bytes({done, change.original.end}), -1, {}});
        spans.push_back(std::move(span));
    }
    return spans;
}

void writeOriginal(QByteArrayView rewritten, const std::vector<ReversedSpan> &spans,
                   const SavedContent &contentOf, const std::function<void(QByteArrayView)> &sink)
{
    qsizetype done = 0;
    for (const ReversedSpan &span : spans) {
        if (span.at < done || span.length < 0 || span.at > rewritten.size() ||
            span.length > rewritten.size() - span.at)
            throw qb::Error(QStringLiteral("The record's changes do not fit the email"));
        sink(rewritten.sliced(done, span.at - done));
        for (const RemovedPiece &piece : span.removed)
            sink(piece.file < 0 ? piece.bytes : encodedBody(contentOf(piece.file), piece.shape));
        done = span.at + span.length;
    }
    sink(rewritten.sliced(done));
}

QByteArray rebuiltOriginal(QByteArrayView rewritten, const std::vector<ReversedSpan> &spans,
                           const SavedContent &contentOf)
{
    QByteArray original;
    writeOriginal(rewritten, spans, contentOf, [&](QByteArrayView piece) { original += piece; });
    return original;
}

} // namespace undo
