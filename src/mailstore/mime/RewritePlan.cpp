#include "RewritePlan.h"

#include "NoteCut.h"
#include "NoteText.h"
#include "common/Error.h"

#include <QRandomGenerator>

#include <algorithm>

namespace mime {

namespace {

[[noreturn]] void refuse(const QString &why)
{
    throw qb::MailStoreError(why + QStringLiteral("; the email is left unchanged"));
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 128; });
}

// A slice of the source that is not copied: the email outlives every plan.
QByteArray slice(const QByteArray &data, qsizetype begin, qsizetype end)
{
    return QByteArray::fromRawData(data.constData() + begin, end - begin);
}

Splice literal(qsizetype begin, qsizetype end, QByteArray bytes, QByteArray breakAfter = {})
{
    return {begin, end, [bytes = std::move(bytes)](const ByteSink &sink) { sink(bytes); },
            std::move(breakAfter)};
}

bool startsInlinePgp(QByteArrayView text)
{
    qsizetype start = 0;
    while (start < text.size() && QChar::isSpace(uchar(text[start])))
        ++start;
    return text.sliced(start).startsWith("-----BEGIN PGP");
}

bool endsInSoftBreak(QByteArrayView text)
{
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    return end > 0 && text[end - 1] == ' ';
}

// Ends the last line of a header block cut short by the end of the data, so that
// lines can follow; after a CR only CR LF keeps that line from reading as blank.
void endLine(QByteArray &lines, const QByteArray &lineBreak)
{
    if (!lines.isEmpty() && !lines.endsWith('\n'))
        lines += lines.endsWith('\r') ? QByteArrayLiteral("\r\n") : lineBreak;
}

bool isContentField(const QByteArray &name)
{
    return name.size() >= 8 && qstrnicmp(name.constData(), 8, "Content-", 8) == 0;
}

class Planner
{
public:
    Planner(const ParsedEmail &email) : m_email(email), m_tree(email.tree()) {}

    RewritePlan run(const std::vector<bool> &removed, const QString &notes,
                    const std::vector<NoteChange> &noteChanges)
    {
        if (hasAmbiguousBoundaries())
            refuse(QStringLiteral("The email's parts use the same boundary at two levels"));
        for (size_t i = 0; i < removed.size(); ++i) {
            if (removed[i])
                m_plan.removedLeaves.insert(m_email.attachments()[i].node);
        }
        m_plan.topHeaderBlock = m_tree.bytes(m_tree.root().headerBlock);
        if (!noteChanges.empty())
            changeNotes(noteChanges);
        if (m_plan.removedLeaves.count(0)) {
            replaceRoot(notes);
        } else {
            planRemovals();
            if (!notes.isEmpty())
                placeNotes(notes);
        }
        endCutShortHeader();
        std::stable_sort(m_plan.splices.begin(), m_plan.splices.end(),
                         [](const Splice &a, const Splice &b) {
                             if (a.begin != b.begin)
                                 return a.begin < b.begin;
                             return a.begin == a.end && b.begin != b.end; // inserts first
                         });
        qsizetype done = 0;
        for (const Splice &splice : m_plan.splices) {
            if (splice.begin < done)
                refuse(QStringLiteral("The email's structure is too unusual to change safely"));
            done = splice.end;
        }
        breakLinesBeforeBoundaries();
        return std::move(m_plan);
    }

private:
    const MimeNode &node(int index) const { return m_tree.node(index); }

    // A multipart inside another one with the same boundary (or one that reads as
    // its closing line) can be read two ways; a change could tip it to the other.
    bool hasAmbiguousBoundaries() const
    {
        for (const MimeNode &inner : m_tree.nodes()) {
            if (inner.kind != NodeKind::Multipart || inner.boundary.isEmpty())
                continue;
            for (int up = inner.parent; up >= 0; up = node(up).parent) {
                const QByteArray &outer = node(up).boundary;
                if (!outer.isEmpty() &&
                    (outer == inner.boundary || outer == inner.boundary + "--" ||
                     inner.boundary == outer + "--"))
                    return true;
            }
        }
        return false;
    }

    // The first byte of the new email after splice index, or -1 at its end.
    int nextOutputByte(size_t index) const
    {
        const QByteArray &data = m_tree.data();
        qsizetype position = m_plan.splices[index].end;
        for (size_t next = index + 1; next < m_plan.splices.size(); ++next) {
            const Splice &splice = m_plan.splices[next];
            if (splice.begin > position)
                break;
            QByteArray bytes;
            splice.write([&](QByteArrayView piece) {
                if (bytes.isEmpty())
                    bytes.append(piece.first(std::min<qsizetype>(piece.size(), 1)));
            });
            if (!bytes.isEmpty())
                return uchar(bytes[0]);
            position = splice.end;
        }
        return position < data.size() ? uchar(data[position]) : -1;
    }

    // Content written where a boundary line follows without a line break of its
    // own (a part that was empty, or one whose next part went) gets one, so that
    // the boundary starts a line and the content stays what it is.
    void breakLinesBeforeBoundaries()
    {
        for (size_t index = 0; index < m_plan.splices.size(); ++index) {
            Splice &splice = m_plan.splices[index];
            if (splice.breakAfter.isEmpty())
                continue;
            const int next = nextOutputByte(index);
            if (next < 0 || next == '\n' || next == '\r')
                continue;
            splice.write = [write = splice.write,
                            lineBreak = splice.breakAfter](const ByteSink &sink) {
                write(sink);
                sink(lineBreak);
            };
        }
    }

    // A part that ends the data inside its header lines (no blank line, no line
    // break) has its last line ended by whatever is inserted at the end.
    void endCutShortHeader()
    {
        const QByteArray &data = m_tree.data();
        const qsizetype end = data.size();
        if (end == 0 || data[end - 1] == '\n')
            return;
        const auto inserted = std::find_if(m_plan.splices.begin(), m_plan.splices.end(),
                                           [end](const Splice &s) { return s.begin == end; });
        if (inserted == m_plan.splices.end())
            return;
        QByteArray bytes;
        inserted->write([&](QByteArrayView piece) { bytes.append(piece); });
        const QByteArray terminator = bytes.left(bytes.indexOf('\n') + 1);
        for (int index = 1; index < int(m_tree.nodes().size()); ++index) {
            const MimeNode &part = node(index);
            if (!part.hasSeparator && part.headerBlock.size() > 0 && part.headerBlock.end == end)
                m_plan.endedHeaders[index] = m_tree.bytes(part.headerBlock) + terminator;
        }
    }

    // What ends the last line of a block cut short by the end of the data.
    QByteArray lastLineEnd(Span block, const QByteArray &lineBreak) const
    {
        if (block.size() == 0 || m_tree.data()[block.end - 1] == '\n')
            return {};
        return m_tree.data()[block.end - 1] == '\r' ? QByteArrayLiteral("\r\n") : lineBreak;
    }

    // The line break that goes before a boundary line inserted at position. After
    // content ending in CR a lone LF would join it into a CR LF that readers take
    // as the delimiter's, cutting the CR from the content: CR LF keeps it.
    // Right after a boundary line of the email none is needed: a line break there
    // would open an empty part after that boundary.
    QByteArray breakBefore(qsizetype position, const QByteArray &lineBreak) const
    {
        if (boundaryLineEndsAt(position))
            return {};
        return position > 0 && m_tree.data()[position - 1] == '\r' ? QByteArrayLiteral("\r\n")
                                                                   : lineBreak;
    }

    bool boundaryLineEndsAt(qsizetype position) const
    {
        if (position == 0 || m_tree.data()[position - 1] != '\n')
            return false;
        const auto endsHere = [position](const Delimiter &line) {
            return line.lineEnd == position;
        };
        for (const MimeNode &each : m_tree.nodes()) {
            if (std::any_of(each.delimiters.begin(), each.delimiters.end(), endsHere) ||
                std::any_of(each.emptyDelimiters.begin(), each.emptyDelimiters.end(), endsHere) ||
                (each.closeDelimiter && endsHere(*each.closeDelimiter)))
                return true;
        }
        return false;
    }

    // The delimiter that opens a part inside its multipart.
    const Delimiter &openingOf(int index)
    {
        if (m_positions.empty()) {
            m_positions.assign(m_tree.nodes().size(), 0);
            for (const MimeNode &each : m_tree.nodes()) {
                for (size_t i = 0; i < each.children.size(); ++i)
                    m_positions[size_t(each.children[i])] = i;
            }
        }
        return node(node(index).parent).delimiters[m_positions[size_t(index)]];
    }

    // Cuts every removed part with the boundary line that opens it. A multipart
    // left without parts goes with them, so that no empty multipart stays behind.
    void planRemovals()
    {
        std::set<int> removed = m_plan.removedLeaves;
        for (int index = int(m_tree.nodes().size()) - 1; index > 0; --index) {
            const MimeNode &candidate = node(index);
            if (candidate.kind == NodeKind::Multipart && !candidate.children.empty() &&
                std::all_of(candidate.children.begin(), candidate.children.end(),
                            [&](int child) { return removed.count(child) > 0; }))
                removed.insert(index);
        }
        // Each run of removed parts goes with the boundary lines that open them, up
        // to the boundary line that follows the run (this multipart's next one, else
        // an enclosing one). When that line has a line break of its own, the run's
        // first line break goes too, so the content before the run ends as it did;
        // when it has none (the removed part's last line held it), the first line
        // break stays and becomes that line's.
        std::set<int> parents;
        for (const int index : removed) {
            const int parent = node(index).parent;
            if (parent >= 0 && !removed.count(parent) && node(parent).kind == NodeKind::Multipart)
                parents.insert(parent);
        }
        const QByteArray &data = m_tree.data();
        struct Cut
        {
            Delimiter opening;
            qsizetype end;
            bool keepsBreak; // the opening's line break stays, for the line after the cut
            qsizetype begin() const { return keepsBreak ? opening.lineStart : opening.breakStart; }
        };
        std::vector<Cut> cuts;
        for (const int parent : parents) {
            const MimeNode &multipart = node(parent);
            for (size_t first = 0; first < multipart.children.size();) {
                if (!removed.count(multipart.children[first])) {
                    ++first;
                    continue;
                }
                size_t last = first;
                while (last + 1 < multipart.children.size() &&
                       removed.count(multipart.children[last + 1]))
                    ++last;
                // Boundary lines just before the run that open no part go with it:
                // left alone, the last of them could end up opening an empty one.
                Delimiter opening = multipart.delimiters[first];
                for (bool found = true; found;) {
                    found = false;
                    for (const Delimiter &empty : multipart.emptyDelimiters) {
                        if (empty.lineEnd == opening.lineStart) {
                            opening = empty;
                            found = true;
                        }
                    }
                }
                Delimiter after =
                    m_tree.nextBoundaryAfter(parent, multipart.delimiters[last].lineStart);
                if (after.lineStart >= multipart.body.end) {
                    // The enclosing boundary, or the end of the data, at the body's end.
                    after.breakStart = after.lineStart = multipart.body.end;
                    if (after.lineStart < data.size() && data[after.lineStart] == '\r')
                        ++after.lineStart;
                    if (after.lineStart < data.size() && data[after.lineStart] == '\n')
                        ++after.lineStart;
                }
                const bool afterBreak =
                    after.breakStart < after.lineStart || after.breakStart == data.size();
                // An opening line without a break of its own after another part follows
                // a line that ended (that part's last header line or blank line): the line
                // after the cut follows it as the opening did, with no break between, or an
                // empty attached email there would read that break as its content.
                const bool afterPart = opening.lineStart > multipart.body.begin;
                const bool openingBreak = opening.breakStart < opening.lineStart || !afterPart;
                cuts.push_back({opening,
                                afterBreak && openingBreak ? after.breakStart : after.lineStart,
                                !afterBreak});
                first = last + 1;
            }
        }
        // Runs of nested multiparts can meet: one ends at the boundary line that the
        // next one removes. Together they are one cut, and whether the first line
        // break stays is the last run's call, since it knows what follows.
        std::sort(cuts.begin(), cuts.end(), [](const Cut &a, const Cut &b) {
            return a.opening.lineStart < b.opening.lineStart;
        });
        for (size_t i = 0; i < cuts.size(); ++i) {
            Cut merged = cuts[i];
            while (i + 1 < cuts.size() && cuts[i + 1].begin() <= merged.end) {
                merged.end = std::max(merged.end, cuts[i + 1].end);
                merged.keepsBreak = cuts[i + 1].keepsBreak;
                ++i;
            }
            // Right after another boundary line the next one needs no line break: one
            // left there would read as an empty part after that boundary.
            qsizetype end = merged.end;
            if (boundaryLineEndsAt(merged.begin())) {
                if (end + 1 < data.size() && data[end] == '\r' && data[end + 1] == '\n')
                    end += 2;
                else if (end < data.size() && data[end] == '\n')
                    end += 1;
            }
            m_plan.splices.push_back(literal(merged.begin(), end, QByteArray()));
        }
    }

    void placeNotes(const QString &notes)
    {
        const int plain = m_email.textPart("plain");
        const int html = m_email.textPart("html");
        if (plain < 0 && html < 0) {
            addFirstPart(notePart(notes));
            return;
        }
        int refused = -1;
        if (plain >= 0 && !appendToText(plain, notes, false))
            refused = plain;
        if (html >= 0 && !appendToText(html, notes, true) && refused < 0)
            refused = html;
        if (refused >= 0)
            addPartAfter(refused, notePart(notes));
    }

    // Appends the note to a text part's content, re-encoding only its transfer
    // encoding. False when the part cannot take it unchanged otherwise.
    bool appendToText(int index, const QString &notes, bool html)
    {
        const MimeNode &part = node(index);
        const Transfer transfer = m_email.transferOf(index);
        if (transfer != Transfer::Identity && transfer != Transfer::QuotedPrintable &&
            transfer != Transfer::Base64)
            return false;
        const QByteArray &data = m_tree.data();
        const QByteArray raw = slice(data, part.body.begin, part.body.end);
        if (transfer == Transfer::Base64 && !damageOf(raw, transfer).isEmpty())
            return false;
        if (transfer == Transfer::QuotedPrintable && raw.endsWith('='))
            return false;
        const QByteArray content = transfer == Transfer::Identity ? raw : decoded(raw, transfer);
        if (startsInlinePgp(content))
            return false; // an inline signature would break
        const QByteArray charset = m_email.charsetOf(index);
        // The part's lines as written (an encoding's lines too) end as its own do, else as
        // the email's around it: a strict server refuses an email with both kinds.
        const QByteArray lineBreak = lineBreakIn(raw, m_tree.lineBreakOf(index));
        // The note's lines inside the content end as the content's; quoted-printable
        // writes its own line breaks from LF.
        const QByteArray noteBreak = transfer == Transfer::QuotedPrintable
                                         ? QByteArrayLiteral("\n")
                                         : lineBreakIn(content, lineBreak);
        QByteArray insertion;
        if (html) {
            if (!noteInCharset(QStringLiteral("x"), charset, noteBreak))
                return false;
            insertion = noteAsHtml(notes, noteBreak);
        } else {
            const auto inCharset = noteInCharset(notes, charset, noteBreak);
            if (!inCharset)
                return false;
            insertion = *inCharset;
        }
        // In flowed text a line ending in a space runs on into the next: end that
        // paragraph first, or the note would be read as part of it.
        if (!html && m_tree.contentTypeParameter(index, "format").toLower() == "flowed" &&
            endsInSoftBreak(content))
            insertion.prepend(noteBreak);
        const QByteArray label =
            m_tree.interpretedHeader(index, "Content-Transfer-Encoding").trimmed().toLower();
        if (transfer == Transfer::Identity && label != "8bit" && label != "binary" &&
            !isAscii(insertion))
            return false; // a 7bit part cannot carry it

        // A part with no blank line after its headers, or none before the next
        // boundary line, gets them: the note must not read as a header or run
        // into a boundary.
        QByteArray before;
        if (!part.hasSeparator) {
            const QByteArray terminator = lastLineEnd(part.headerBlock, lineBreak);
            before = terminator + lineBreak;
            if (!terminator.isEmpty()) {
                if (index == 0)
                    m_plan.topHeaderBlock += terminator;
                else
                    m_plan.endedHeaders[index] = m_tree.bytes(part.headerBlock) + terminator;
            }
        }
        std::vector<QByteArray> expected;
        if (transfer == Transfer::Base64) {
            const qsizetype at = html ? htmlInsertionPoint(content) : content.size();
            auto pieces = std::make_shared<std::vector<QByteArray>>(
                std::vector<QByteArray>{content.left(at), insertion, content.mid(at)});
            const bool endsWithBreak = raw.endsWith('\n');
            m_plan.splices.push_back(
                {part.body.begin, part.body.end,
                 [pieces, lineBreak, before, endsWithBreak](const ByteSink &sink) {
                     sink(before);
                     writeBase64(*pieces, lineBreak, endsWithBreak, sink);
                 },
                 lineBreak});
            expected = *pieces;
        } else if (transfer == Transfer::Identity) {
            const qsizetype at = html ? htmlInsertionPoint(raw) : raw.size();
            // Only at the end of the content can a boundary line follow the note.
            m_plan.splices.push_back(literal(part.body.begin + at, part.body.begin + at,
                                             before + insertion,
                                             at == raw.size() ? lineBreak : QByteArray()));
            expected = {slice(data, part.body.begin, part.body.begin + at), insertion,
                        slice(data, part.body.begin + at, part.body.end)};
        } else {
            const qsizetype at = html ? htmlInsertionPoint(raw) : raw.size();
            // A soft line break first, so that the note starts on a line of its own
            // whatever the last encoded line held.
            const bool softBreak = at == raw.size() && !raw.isEmpty() && !raw.endsWith('\n');
            const QByteArray encodedNote =
                (softBreak ? QByteArray("=") + lineBreak : QByteArray()) +
                encoded(insertion, Transfer::QuotedPrintable, lineBreak);
            m_plan.splices.push_back(literal(part.body.begin + at, part.body.begin + at,
                                             before + encodedNote,
                                             at == raw.size() ? lineBreak : QByteArray()));
            const QByteArrayView view(raw);
            expected = {decoded(view.first(at), transfer), decoded(encodedNote, transfer),
                        decoded(view.sliced(at), transfer)};
        }
        m_plan.noteParts[index] = std::move(expected);
        return true;
    }

    static void writeBase64(const std::vector<QByteArray> &pieces, const QByteArray &lineBreak,
                            bool endsWithBreak, const ByteSink &sink)
    {
        std::vector<QByteArrayView> views(pieces.begin(), pieces.end());
        // GMime ends the text with a line break; keep the part's own habit.
        QByteArray held;
        encodeTo(views, Transfer::Base64, lineBreak, [&](QByteArrayView piece) {
            if (piece.isEmpty())
                return;
            sink(held);
            held = piece.toByteArray();
        });
        if (!endsWithBreak && held.endsWith(lineBreak))
            held.chop(lineBreak.size());
        sink(held);
    }

    // A text/plain part of its own holding the notes, without the line break
    // that ends it (the next boundary line brings it).
    QByteArray notePart(const QString &notes)
    {
        const QByteArray lineBreak = m_tree.lineBreakOf(0);
        QString text = notes;
        while (text.startsWith(QLatin1Char('\r')) || text.startsWith(QLatin1Char('\n')))
            text.remove(0, 1);
        QByteArray body = *noteInCharset(text, QByteArrayLiteral("utf-8"), "\n");
        const bool ascii = isAscii(body);
        body = ascii ? *noteInCharset(text, QByteArrayLiteral("utf-8"), lineBreak)
                     : encoded(body, Transfer::QuotedPrintable, lineBreak);
        while (body.endsWith('\n'))
            body.chop(body.endsWith("\r\n") ? 2 : 1);
        QByteArray part =
            "Content-Type: text/plain; charset=utf-8" + lineBreak + "Content-Transfer-Encoding: " +
            (ascii ? QByteArrayLiteral("7bit") : QByteArrayLiteral("quoted-printable")) +
            lineBreak + lineBreak + body;
        m_plan.insertedParts.push_back(part);
        return part;
    }

    // Puts a new part first in the email's multipart/mixed, or wraps the email.
    void addFirstPart(const QByteArray &part)
    {
        const MimeNode &root = node(0);
        if (root.kind != NodeKind::Multipart || root.boundary.isEmpty() ||
            root.mimeType == "multipart/alternative" || root.mimeType == "multipart/related" ||
            root.delimiters.empty()) {
            wrap(part);
            return;
        }
        const QByteArray lineBreak = m_tree.lineBreakOf(0);
        const QByteArray delimiter = "--" + root.boundary;
        const Delimiter &first = root.delimiters.front();
        if (first.breakStart < first.lineStart)
            m_plan.splices.push_back(
                literal(first.breakStart, first.breakStart,
                        breakBefore(first.breakStart, lineBreak) + delimiter + lineBreak + part,
                        lineBreak));
        else
            m_plan.splices.push_back(
                literal(first.lineStart, first.lineStart, delimiter + lineBreak + part, lineBreak));
    }

    // Puts a new part after the text part's alternatives (never among them: a
    // client would show it instead of the text), or wraps the email.
    void addPartAfter(int index, const QByteArray &part)
    {
        int anchor = index;
        while (node(anchor).parent >= 0 &&
               (node(node(anchor).parent).mimeType == "multipart/alternative" ||
                node(node(anchor).parent).mimeType == "multipart/related"))
            anchor = node(anchor).parent;
        const int parent = node(anchor).parent;
        if (parent < 0) {
            wrap(part);
            return;
        }
        const MimeNode &multipart = node(parent);
        const Delimiter &opening = openingOf(anchor);
        const Delimiter next = m_tree.nextBoundaryAfter(parent, opening.lineStart);
        const QByteArray lineBreak = m_tree.lineBreakOf(parent);
        const QByteArray delimiter = "--" + multipart.boundary;
        // At the multipart's end the boundary that follows is an enclosing one.
        const QByteArray &data = m_tree.data();
        const qsizetype at = next.breakStart;
        const bool lineWithoutBreak =
            next.lineStart < multipart.body.end
                ? next.breakStart == next.lineStart
                : at < data.size() && data[at] != '\r' && data[at] != '\n';
        if (lineWithoutBreak) {
            // The next boundary line has no line break of its own: the new part goes
            // before it, whole lines, leaving the line that ends before it as it is.
            m_plan.splices.push_back(
                literal(next.lineStart, next.lineStart, delimiter + lineBreak + part, lineBreak));
            return;
        }
        m_plan.splices.push_back(literal(
            next.breakStart, next.breakStart,
            breakBefore(next.breakStart, lineBreak) + delimiter + lineBreak + part, lineBreak));
    }

    QByteArray freshBoundary() const
    {
        for (;;) {
            const QByteArray boundary =
                "=_qb_" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) +
                QByteArray::number(QRandomGenerator::global()->generate64(), 16);
            if (!m_tree.data().contains(boundary))
                return boundary;
        }
    }

    // The root's header lines without its Content- fields, which go to moved,
    // followed by added (and MIME-Version when the email has none). When what is
    // left would start with a line that is no header, added goes first instead, or
    // the email would no longer read as one.
    QByteArray messageHeaderLines(QByteArray *moved, QByteArray added) const
    {
        const MimeNode &root = node(0);
        const QByteArray &data = m_tree.data();
        QByteArray kept;
        qsizetype done = root.headerBlock.begin;
        bool mimeVersion = false;
        bool startsWithField = false;
        for (const HeaderField &field : root.headers) {
            kept += slice(data, done, field.field.begin); // lines that are not headers
            if (isContentField(field.name)) {
                *moved += slice(data, field.field.begin, field.field.end);
            } else {
                startsWithField = startsWithField || kept.isEmpty();
                kept += slice(data, field.field.begin, field.field.end);
            }
            mimeVersion =
                mimeVersion || field.name.compare("MIME-Version", Qt::CaseInsensitive) == 0;
            done = field.field.end;
        }
        kept += slice(data, done, root.headerBlock.end);
        const QByteArray lineBreak = m_tree.lineBreakOf(0);
        endLine(kept, lineBreak);
        endLine(*moved, lineBreak);
        if (!mimeVersion)
            added.prepend("MIME-Version: 1.0" + lineBreak);
        return startsWithField || kept.isEmpty() ? kept + added : added + kept;
    }

    // The email becomes a multipart/mixed whose first part is what it was.
    void wrap(const QByteArray &part)
    {
        const MimeNode &root = node(0);
        const QByteArray lineBreak = m_tree.lineBreakOf(0);
        const QByteArray boundary = freshBoundary();
        QByteArray moved;
        const QByteArray headers = messageHeaderLines(
            &moved, "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + lineBreak);
        m_plan.topHeaderBlock = headers;
        m_plan.wrapped = true;
        m_plan.movedHeaderLines = moved;
        m_plan.splices.push_back(literal(root.headerBlock.begin, root.headerBlock.end,
                                         headers + (root.hasSeparator ? QByteArray() : lineBreak)));
        m_plan.splices.push_back(literal(root.body.begin, root.body.begin,
                                         "--" + boundary + lineBreak + moved + lineBreak));
        const qsizetype end = m_tree.data().size();
        m_plan.splices.push_back(literal(end, end,
                                         breakBefore(end, lineBreak) + "--" + boundary + lineBreak +
                                             part + lineBreak + "--" + boundary + "--" +
                                             lineBreak));
    }

    // The email's only part was the attachment: the email becomes its note.
    void replaceRoot(const QString &notes)
    {
        const MimeNode &root = node(0);
        const QByteArray lineBreak = m_tree.lineBreakOf(0);
        const QByteArray part = notes.isEmpty() ? QByteArray() : notePart(notes);
        m_plan.insertedParts.clear();
        const qsizetype split = part.indexOf(lineBreak + lineBreak);
        QByteArray moved;
        const QByteArray headers = messageHeaderLines(
            &moved, split < 0 ? "Content-Type: text/plain; charset=utf-8" + lineBreak
                              : part.left(split + lineBreak.size()));
        const QByteArray body = split < 0 ? QByteArray() : part.mid(split + 2 * lineBreak.size());
        m_plan.topHeaderBlock = headers;
        m_plan.replacedRoot = true;
        m_plan.splices.push_back(literal(root.headerBlock.begin, root.headerBlock.end,
                                         headers + (root.hasSeparator ? QByteArray() : lineBreak)));
        m_plan.splices.push_back(literal(root.body.begin, root.body.end, body + lineBreak));
        m_plan.replacedRootBody = body + lineBreak;
    }

    // Changes each note in every text part that holds it: the part gets its content back
    // so changed, in its own transfer encoding. Refused when a note is in no text part.
    void changeNotes(const std::vector<NoteChange> &notes)
    {
        std::set<int> attachmentNodes;
        for (const AttachmentPart &attachment : m_email.attachments())
            attachmentNodes.insert(attachment.node);
        std::vector<bool> found(notes.size(), false);
        const QByteArray &data = m_tree.data();
        for (int index = 0; index < int(m_tree.nodes().size()); ++index) {
            const MimeNode &part = node(index);
            const bool html = part.mimeType == "text/html";
            if (part.kind != NodeKind::Leaf || attachmentNodes.count(index) ||
                (!html && part.mimeType != "text/plain"))
                continue;
            const Transfer transfer = m_email.transferOf(index);
            if (transfer != Transfer::Identity && transfer != Transfer::QuotedPrintable &&
                transfer != Transfer::Base64)
                continue;
            const QByteArray raw = slice(data, part.body.begin, part.body.end);
            QByteArray content = transfer == Transfer::Identity ? raw : decoded(raw, transfer);
            const QByteArray charset = m_email.charsetOf(index);
            bool cut = false;
            for (size_t i = 0; i < notes.size(); ++i) {
                if (changeNote(content, notes[i].note, notes[i].replacement, charset, html)) {
                    found[size_t(i)] = true;
                    cut = true;
                }
            }
            if (!cut)
                continue;
            const QByteArray lineBreak = lineBreakIn(raw, m_tree.lineBreakOf(index));
            QByteArray body = content;
            if (transfer == Transfer::QuotedPrintable) {
                body = encoded(content, transfer, lineBreak);
            } else if (transfer == Transfer::Base64) {
                body.clear();
                writeBase64({content}, lineBreak, raw.endsWith('\n'),
                            [&body](QByteArrayView piece) { body.append(piece); });
            }
            if (transfer != Transfer::Identity && decoded(body, transfer) != content)
                refuse(QStringLiteral("A text part would not read back with its note changed"));
            m_plan.splices.push_back(literal(part.body.begin, part.body.end, body, lineBreak));
            m_plan.noteParts[index] = {content};
        }
        for (size_t i = 0; i < notes.size(); ++i) {
            if (!found[i])
                refuse(QStringLiteral("No text of the email holds the note \"%1\"")
                           .arg(notes[i].note.trimmed()));
        }
    }

    const ParsedEmail &m_email;
    const MimeTree &m_tree;
    RewritePlan m_plan;
    std::vector<size_t> m_positions; // of each node among its parent's children
};

} // namespace

RewritePlan planRewrite(const ParsedEmail &email, const std::vector<bool> &removed,
                        const QString &notes, const std::vector<NoteChange> &noteChanges)
{
    return Planner(email).run(removed, notes, noteChanges);
}

} // namespace mime
