#include "EmailEdit.h"

#include "RewritePlan.h"
#include "common/Error.h"
#include "common/FileSystem.h"

#include <cerrno>
#include <map>
#include <unistd.h>

namespace mime {

namespace {

[[noreturn]] void fail(const QString &message)
{
    throw qb::MailStoreError(message);
}

// Writes to a file descriptor through a buffer; throws with the system's reason.
class FdWriter
{
public:
    explicit FdWriter(int fd) : m_fd(fd) { m_buffer.reserve(capacity); }

    void write(QByteArrayView bytes)
    {
        m_written += bytes.size();
        if (m_buffer.size() + bytes.size() > capacity)
            flush();
        if (bytes.size() >= capacity)
            writeAll(bytes);
        else
            m_buffer.append(bytes);
    }
    void flush()
    {
        writeAll(m_buffer);
        m_buffer.clear();
    }
    qint64 written() const { return m_written; }

private:
    static constexpr qsizetype capacity = 256 * 1024;

    void writeAll(QByteArrayView bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t wrote = ::write(m_fd, bytes.data() + done, size_t(bytes.size() - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote < 0)
                fail(QStringLiteral("Cannot write: %1").arg(qb::systemErrorText()));
            done += wrote;
        }
    }

    int m_fd;
    QByteArray m_buffer;
    qint64 m_written = 0;
};

void syncOrFail(int fd)
{
    if (::fsync(fd) != 0)
        fail(QStringLiteral("Cannot write: %1").arg(qb::systemErrorText()));
}

// The leaves of an email (attached emails count as one), depth first.
std::vector<int> leavesOf(const MimeTree &tree)
{
    std::vector<int> leaves;
    std::vector<int> pending{0};
    while (!pending.empty()) {
        const int index = pending.back();
        pending.pop_back();
        const MimeNode &node = tree.node(index);
        if (node.kind == NodeKind::Multipart)
            pending.insert(pending.end(), node.children.rbegin(), node.children.rend());
        else
            leaves.push_back(index);
    }
    return leaves;
}

bool equalsPieces(QByteArrayView content, const std::vector<QByteArray> &pieces)
{
    qsizetype at = 0;
    for (const QByteArray &piece : pieces) {
        if (at + piece.size() > content.size() ||
            content.sliced(at, piece.size()) != QByteArrayView(piece))
            return false;
        at += piece.size();
    }
    return at == content.size();
}

[[noreturn]] void misread(const QString &what)
{
    fail(QStringLiteral("The rewritten email would not read back as intended (%1); "
                        "the email is left unchanged")
             .arg(what));
}

} // namespace

EmailEdit::EmailEdit(ParsedEmail email)
    : m_email(std::move(email)), m_removed(m_email.attachments().size(), false)
{
    for (int i = 0; i < int(m_email.attachments().size()); ++i)
        m_remaining.push_back(i);
    if (m_email.tree().malformed())
        m_refusal = QStringLiteral("The email cannot be read as MIME; it is left unchanged");
    else if (m_email.isSignedOrEncrypted())
        m_refusal = QStringLiteral("The email is signed or encrypted; it is left unchanged");
}

EmailEdit::~EmailEdit() = default;
EmailEdit::EmailEdit(EmailEdit &&) noexcept = default;
EmailEdit &EmailEdit::operator=(EmailEdit &&) noexcept = default;

const AttachmentPart &EmailEdit::attachment(int position) const
{
    if (position < 1 || position > attachmentCount())
        fail(QStringLiteral("The email has no attachment at position %1").arg(position));
    return m_email.attachments()[size_t(m_remaining[size_t(position - 1)])];
}

EmailEdit::Saved EmailEdit::writeAttachment(int position, int fd) const
{
    const int node = attachment(position).node;
    const Transfer transfer = m_email.transferOf(node);
    const QByteArrayView raw = m_email.tree().view(m_email.tree().node(node).body);
    FdWriter writer(fd);
    decodeTo(raw, transfer, [&](QByteArrayView piece) { writer.write(piece); });
    writer.flush();
    syncOrFail(fd);
    return {writer.written(), damageOf(raw, transfer)};
}

QString EmailEdit::refusal() const
{
    return m_refusal;
}

void EmailEdit::removeAttachment(int position)
{
    if (const QString why = refusal(); !why.isEmpty())
        fail(why);
    attachment(position); // throws when there is none
    m_removed[size_t(m_remaining[size_t(position - 1)])] = true;
    m_remaining.erase(m_remaining.begin() + (position - 1));
    m_changed = true;
    m_plan.reset();
}

void EmailEdit::appendNote(const QString &note)
{
    if (const QString why = refusal(); !why.isEmpty())
        fail(why);
    m_notes += note;
    m_changed = true;
    m_plan.reset();
}

void EmailEdit::replaceNote(const QString &note, const QString &replacement)
{
    if (const QString why = refusal(); !why.isEmpty())
        fail(why);
    m_noteChanges.push_back({note, replacement});
    m_changed = true;
    m_plan.reset();
}

const RewritePlan &EmailEdit::plan() const
{
    if (!m_plan)
        m_plan =
            std::make_unique<RewritePlan>(planRewrite(m_email, m_removed, m_notes, m_noteChanges));
    return *m_plan;
}

void EmailEdit::writeTo(int fd) const
{
    const QByteArray &data = m_email.bytes();
    FdWriter writer(fd);
    qsizetype done = 0;
    const ByteSink sink = [&](QByteArrayView piece) { writer.write(piece); };
    for (const Splice &splice : plan().splices) {
        writer.write(QByteArrayView(data).sliced(done, splice.begin - done));
        splice.write(sink);
        done = splice.end;
    }
    writer.write(QByteArrayView(data).sliced(done));
    writer.flush();
    syncOrFail(fd);
}

std::vector<ChangedSpan> EmailEdit::changedSpans() const
{
    std::vector<ChangedSpan> spans;
    qsizetype written = 0; // in the rewritten email
    qsizetype done = 0;    // in the original
    qsizetype spliceLength = 0;
    const ByteSink counter = [&](QByteArrayView piece) { spliceLength += piece.size(); };
    for (const Splice &splice : plan().splices) {
        written += splice.begin - done;
        spliceLength = 0;
        splice.write(counter);
        spans.push_back({{splice.begin, splice.end}, {written, written + spliceLength}});
        written += spliceLength;
        done = splice.end;
    }
    return spans;
}

std::vector<std::pair<int, int>> EmailEdit::removedAttachments() const
{
    std::vector<std::pair<int, int>> removed;
    for (size_t index = 0; index < m_removed.size(); ++index) {
        if (m_removed[index])
            removed.emplace_back(int(index) + 1, m_email.attachments()[index].node);
    }
    return removed;
}

void EmailEdit::verify(const ParsedEmail &rewritten) const
{
    const RewritePlan &expected = plan();
    const MimeTree &oldTree = m_email.tree();
    const MimeTree &newTree = rewritten.tree();

    if (newTree.malformed() ||
        newTree.view(newTree.root().headerBlock) != QByteArrayView(expected.topHeaderBlock))
        misread(QStringLiteral("its headers would differ"));
    // Each attachment as meant: the kept ones, by their nodes in the original. Unnamed
    // parts are named after their place among the attachments, so a kept part may read
    // under another name once an earlier one is gone.
    std::vector<int> wanted;
    for (const int index : m_remaining)
        wanted.push_back(m_email.attachments()[size_t(index)].node);
    std::map<int, int> keptAs; // node in the rewritten email -> node in the original
    if (expected.replacedRoot) {
        if (newTree.root().kind != NodeKind::Leaf ||
            newTree.view(newTree.root().body) != QByteArrayView(expected.replacedRootBody))
            misread(QStringLiteral("its note would differ"));
    } else {
        std::vector<int> kept;
        for (const int leaf : leavesOf(oldTree)) {
            if (!expected.removedLeaves.count(leaf))
                kept.push_back(leaf);
        }
        std::vector<QByteArray> inserted = expected.insertedParts;
        size_t next = 0;
        for (const int leaf : leavesOf(newTree)) {
            const MimeNode &now = newTree.node(leaf);
            if (next < kept.size() && keptPartMatches(kept[next], rewritten, leaf)) {
                keptAs[leaf] = kept[next];
                ++next;
                continue;
            }
            // A note part that ends the email keeps the line break that would have
            // gone to the boundary after it.
            const QByteArray whole = newTree.bytes(now.whole);
            const auto added =
                std::find_if(inserted.begin(), inserted.end(), [&whole](const QByteArray &part) {
                    const QByteArrayView rest =
                        QByteArrayView(whole).sliced(std::min(whole.size(), part.size()));
                    return whole.startsWith(part) &&
                           (rest.isEmpty() || rest == "\n" || rest == "\r\n");
                });
            if (added == inserted.end())
                misread(QStringLiteral("a part would change"));
            inserted.erase(added);
        }
        if (next != kept.size() || !inserted.empty())
            misread(QStringLiteral("a part would go missing"));
    }
    std::vector<int> found;
    for (const AttachmentPart &part : rewritten.attachments()) {
        const auto was = keptAs.find(part.node);
        if (was == keptAs.end())
            misread(QStringLiteral("its attachments would differ"));
        // The same bytes read as the same kind of part, or its name could differ.
        const MimeNode &before = oldTree.node(was->second);
        const MimeNode &now = newTree.node(part.node);
        if (before.kind != now.kind || before.mimeType != now.mimeType)
            misread(QStringLiteral("its attachments would differ"));
        found.push_back(was->second);
    }
    if (found != wanted)
        misread(QStringLiteral("its attachments would differ"));
}

bool EmailEdit::keptPartMatches(int oldLeaf, const ParsedEmail &rewritten, int newLeaf) const
{
    const RewritePlan &expected = plan();
    const MimeTree &oldTree = m_email.tree();
    const MimeTree &newTree = rewritten.tree();
    const MimeNode &was = oldTree.node(oldLeaf);
    const MimeNode &now = newTree.node(newLeaf);
    if (oldLeaf == 0) {
        // The email's own header lines were compared already, or moved to this part.
        if (expected.wrapped &&
            newTree.view(now.headerBlock) != QByteArrayView(expected.movedHeaderLines))
            return false;
    } else {
        const auto ended = expected.endedHeaders.find(oldLeaf);
        const QByteArrayView header = ended == expected.endedHeaders.end()
                                          ? oldTree.view(was.headerBlock)
                                          : QByteArrayView(ended->second);
        if (header != newTree.view(now.headerBlock))
            return false;
    }
    const auto noted = expected.noteParts.find(oldLeaf);
    if (noted == expected.noteParts.end())
        return oldTree.view(was.body) == newTree.view(now.body);
    const Transfer transfer = rewritten.transferOf(newLeaf);
    if (transfer == Transfer::Identity)
        return equalsPieces(newTree.view(now.body), noted->second);
    return equalsPieces(decoded(newTree.view(now.body), transfer), noted->second);
}

} // namespace mime
