#include "ParsedEmail.h"

#include "AttachmentRule.h"
#include "HeaderMemo.h"
#include "HeaderText.h"
#include "MimeParameter.h"
#include "SenderName.h"
#include "common/Error.h"
#include "common/FileSystem.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mime {

namespace {

Disposition dispositionOf(const MimeTree &tree, int node, HeaderMemo *memo = nullptr)
{
    return dispositionFrom(tree.interpretedHeader(node, "Content-Type"),
                           tree.interpretedHeader(node, "Content-Disposition"), memo);
}

class AttachmentCollector
{
public:
    AttachmentCollector(const MimeTree &tree, HeaderMemo *memo) : m_tree(tree), m_memo(memo) {}

    std::vector<AttachmentPart> collect()
    {
        visit(0);
        return std::move(m_found);
    }

private:
    void visit(int index)
    {
        const MimeNode &node = m_tree.node(index);
        if (node.kind == NodeKind::Multipart) {
            for (const int child : node.children)
                visit(child);
            return;
        }
        const int position = int(m_found.size()) + 1;
        const QString filename = attachmentName(
            node.kind, node.mimeType, dispositionOf(m_tree, index, m_memo), position, [&] {
                return node.children.empty() ? QString()
                                             : decodeHeaderText(m_tree.interpretedHeader(
                                                   node.children.front(), "Subject"));
            });
        if (!filename.isNull())
            m_found.push_back({index, filename});
    }

    const MimeTree &m_tree;
    HeaderMemo *m_memo;
    std::vector<AttachmentPart> m_found;
};

int findTextPart(const MimeTree &tree, int index, const QByteArray &type)
{
    const MimeNode &node = tree.node(index);
    if (node.kind == NodeKind::Multipart) {
        for (const int child : node.children) {
            const int found = findTextPart(tree, child, type);
            if (found >= 0)
                return found;
        }
        return -1;
    }
    if (node.kind != NodeKind::Leaf || node.mimeType != type)
        return -1;
    const Disposition disposition = dispositionOf(tree, index);
    return disposition.attachment || !disposition.filename.isEmpty() ? -1 : index;
}

} // namespace

void readEmailFile(const QString &path, QByteArray &buffer, struct stat *info)
{
    const auto fail = [&] {
        throw qb::MailStoreError(
            QStringLiteral("Cannot read the email %1: %2").arg(path, qb::systemErrorText()));
    };
    // Non-blocking, so that a FIFO put where an email should be cannot stall the reader.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        fail();
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, info) != 0)
        fail();
    if (!S_ISREG(info->st_mode)) {
        throw qb::MailStoreError(
            QStringLiteral("Cannot read the email %1: it is not a regular file").arg(path));
    }
    const auto size = qsizetype(info->st_size);
    if (buffer.isDetached() && buffer.capacity() >= size)
        buffer.resize(size); // keeps its memory: no allocation, nothing copied
    else
        buffer = QByteArray(size, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer.data() + done, size_t(size - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail();
        if (got == 0)
            break; // shortened meanwhile: what is there is the email
        done += got;
    }
    buffer.truncate(done);
}

ParsedEmail ParsedEmail::fromFile(const QString &path)
{
    QByteArray bytes;
    struct stat info = {};
    readEmailFile(path, bytes, &info);
    return ParsedEmail(std::move(bytes));
}

ParsedEmail::ParsedEmail(QByteArray bytes, HeaderMemo *memo)
    : m_tree(std::move(bytes), memo), m_attachments(AttachmentCollector(m_tree, memo).collect())
{
}

QString ParsedEmail::subject() const
{
    return decodeHeaderText(m_tree.interpretedHeader(0, "Subject"));
}

QString ParsedEmail::senderName() const
{
    return mime::senderName(m_tree.interpretedHeader(0, "From"));
}

int ParsedEmail::textPart(const char *subtype) const
{
    return findTextPart(m_tree, 0, QByteArray("text/") + subtype);
}

bool ParsedEmail::isSignedOrEncrypted() const
{
    std::vector<int> pending{0};
    while (!pending.empty()) {
        const MimeNode &node = m_tree.node(pending.back());
        pending.pop_back();
        if (isProtectedType(node.mimeType))
            return true;
        if (node.kind == NodeKind::Multipart)
            pending.insert(pending.end(), node.children.begin(), node.children.end());
    }
    return false;
}

Transfer ParsedEmail::transferOf(int node) const
{
    return mime::transferOf(m_tree.interpretedHeader(node, "Content-Transfer-Encoding"));
}

QByteArray ParsedEmail::charsetOf(int node) const
{
    const QByteArray declared = m_tree.contentTypeParameter(node, "charset");
    if (!declared.isEmpty() || m_tree.node(node).mimeType != "text/html")
        return declared;
    return htmlMetaCharset(decodedContent(node));
}

QByteArray ParsedEmail::decodedContent(int node) const
{
    return decoded(m_tree.view(m_tree.node(node).body), transferOf(node));
}

QString ParsedEmail::body() const
{
    int part = textPart("plain");
    if (part < 0)
        part = textPart("html");
    if (part < 0)
        return {};
    return toUnicode(decodedContent(part), charsetOf(part));
}

QByteArray htmlMetaCharset(QByteArrayView html)
{
    // <meta charset="x"> or <meta http-equiv="Content-Type" content="text/html; charset=x">
    static const QRegularExpression meta(
        QStringLiteral("<meta\\b[^>]*?charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9._:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString head =
        QString::fromLatin1(html.first(std::min<qsizetype>(html.size(), 64 * 1024)));
    const QRegularExpressionMatch match = meta.match(head);
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

} // namespace mime
