#include "EmailEditor.h"

#include "common/Error.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mime {

namespace {

[[noreturn]] void fail(const QString &message)
{
    throw qb::MailStoreError(message);
}

bool protectedPart(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    if (type && (g_mime_content_type_is_type(type, "multipart", "signed") ||
                 g_mime_content_type_is_type(type, "multipart", "encrypted") ||
                 g_mime_content_type_is_type(type, "application", "pkcs7-mime") ||
                 g_mime_content_type_is_type(type, "application", "x-pkcs7-mime")))
        return true;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
            if (protectedPart(g_mime_multipart_get_part(multipart, i)))
                return true;
        }
    }
    return false;
}

void refuseProtected(const ParsedEmail &email)
{
    if (isSignedOrEncrypted(email))
        fail(QStringLiteral("The email is signed or encrypted; it is left unchanged"));
}

AttachmentPart attachmentAt(const ParsedEmail &email, int index)
{
    const std::vector<AttachmentPart> parts = email.attachments();
    if (index < 1 || index > int(parts.size()))
        fail(QStringLiteral("The email has no attachment at position %1").arg(index));
    return parts[size_t(index - 1)];
}

QString partText(GMimeObject *part)
{
    gchar *text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
    const QString result = text ? QString::fromUtf8(text) : QString();
    g_free(text);
    return result;
}

bool has8Bit(const QByteArray &bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) >= 128; });
}

// Replaces a text part's content, in its charset when that can hold the text,
// keeping its transfer encoding unless 7bit can no longer carry it.
void setPartText(GMimeObject *object, const QString &text)
{
    GMimePart *part = GMIME_PART(object);
    const char *charset = g_mime_text_part_get_charset(GMIME_TEXT_PART(object));
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes;
    if (charset && g_ascii_strcasecmp(charset, "utf-8") != 0 &&
        g_ascii_strcasecmp(charset, "us-ascii") != 0) {
        gsize written = 0;
        gchar *converted =
            g_convert(utf8.constData(), utf8.size(), g_mime_charset_iconv_name(charset), "UTF-8",
                      nullptr, &written, nullptr);
        if (converted) {
            bytes = QByteArray(converted, qsizetype(written));
            g_free(converted);
        }
    }
    if (bytes.isNull()) {
        bytes = utf8;
        if (!charset || g_ascii_strcasecmp(charset, "utf-8") != 0)
            g_mime_text_part_set_charset(GMIME_TEXT_PART(object),
                                         has8Bit(bytes) ? "utf-8" : "us-ascii");
    }
    GMimeContentEncoding encoding = g_mime_part_get_content_encoding(part);
    qb::GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    qb::GObjectPtr<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, content.get());
    if ((encoding == GMIME_CONTENT_ENCODING_DEFAULT || encoding == GMIME_CONTENT_ENCODING_7BIT) &&
        has8Bit(bytes))
        encoding = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    g_mime_part_set_content_encoding(part, encoding);
}

// The added text with the line ends of the text it joins.
QString withLineEnds(QString addition, const QString &existing)
{
    addition.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (existing.contains(QStringLiteral("\r\n")))
        addition.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return addition;
}

QString asHtmlParagraph(const QString &addition)
{
    static const QRegularExpression link(QStringLiteral("file://[^\\s<>\"]+"));
    QString html;
    qsizetype done = 0;
    const QString trimmed = addition.trimmed();
    for (auto match = link.globalMatch(trimmed); match.hasNext();) {
        const auto found = match.next();
        html += trimmed.mid(done, found.capturedStart() - done).toHtmlEscaped();
        const QString url = found.captured().toHtmlEscaped();
        html += QStringLiteral("<a href=\"%1\">%1</a>").arg(url);
        done = found.capturedEnd();
    }
    html += trimmed.mid(done).toHtmlEscaped();
    html.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return QStringLiteral("<p>") + html + QStringLiteral("</p>\n");
}

QString appendHtml(const QString &document, const QString &paragraph)
{
    const qsizetype end = document.lastIndexOf(QLatin1String("</body>"), -1, Qt::CaseInsensitive);
    if (end < 0)
        return document + paragraph;
    return document.left(end) + paragraph + document.mid(end);
}

qb::GObjectPtr<GMimeObject> newTextPart(const QString &text)
{
    GMimeTextPart *part = g_mime_text_part_new_with_subtype("plain");
    g_mime_part_set_content_encoding(GMIME_PART(part), GMIME_CONTENT_ENCODING_7BIT);
    qb::GObjectPtr<GMimeObject> object(GMIME_OBJECT(part));
    g_mime_text_part_set_charset(part, "us-ascii");
    setPartText(object.get(), text);
    return object;
}

// Adds a plain text part to an email that has none: first in a multipart/mixed,
// or in a new multipart/mixed around a single part.
void addTextPart(ParsedEmail &email, const QString &text)
{
    GMimeMessage *message = email.message();
    GMimeObject *root = g_mime_message_get_mime_part(message);
    qb::GObjectPtr<GMimeObject> part = newTextPart(text);
    if (root && GMIME_IS_MULTIPART(root) && !protectedPart(root)) {
        g_mime_multipart_insert(GMIME_MULTIPART(root), 0, part.get());
        return;
    }
    qb::GObjectPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_add(mixed.get(), part.get());
    if (root) {
        g_object_ref(root);
        qb::GObjectPtr<GMimeObject> keep(root);
        g_mime_multipart_add(mixed.get(), root);
    }
    g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed.get()));
}

} // namespace

bool isSignedOrEncrypted(const ParsedEmail &email)
{
    GMimeObject *root = email.message() ? g_mime_message_get_mime_part(email.message()) : nullptr;
    return root && protectedPart(root);
}

void writeAttachment(const ParsedEmail &email, int index, const QString &path)
{
    const AttachmentPart attachment = attachmentAt(email, index);
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(QStringLiteral("Cannot write %1: %2")
                 .arg(path, QString::fromLocal8Bit(strerror(errno))));
    qb::GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(fd));
    gint64 written = -1;
    if (GMIME_IS_MESSAGE_PART(attachment.part)) {
        GMimeMessage *embedded =
            g_mime_message_part_get_message(GMIME_MESSAGE_PART(attachment.part));
        written = embedded
                      ? g_mime_object_write_to_stream(GMIME_OBJECT(embedded), nullptr, out.get())
                      : 0;
    } else if (GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(attachment.part))) {
        written = g_mime_data_wrapper_write_to_stream(content, out.get());
    } else {
        written = 0; // an empty part
    }
    if (written < 0 || g_mime_stream_flush(out.get()) != 0 || ::fsync(fd) != 0)
        fail(QStringLiteral("Cannot write %1: %2")
                 .arg(path, QString::fromLocal8Bit(strerror(errno))));
}

void removeAttachment(ParsedEmail &email, int index)
{
    refuseProtected(email);
    const AttachmentPart attachment = attachmentAt(email, index);
    if (attachment.parent) {
        if (!g_mime_multipart_remove(GMIME_MULTIPART(attachment.parent), attachment.part))
            fail(QStringLiteral("The attachment could not be removed from its email"));
        return;
    }
    qb::GObjectPtr<GMimeObject> empty = newTextPart(QString());
    g_mime_message_set_mime_part(email.message(), empty.get());
}

void setBodyText(ParsedEmail &email, const QString &text)
{
    refuseProtected(email);
    if (!email.message())
        fail(QStringLiteral("The email cannot be read as MIME; it is left unchanged"));
    GMimeObject *plain = email.textPart("plain");
    GMimeObject *html = email.textPart("html");
    const QString current = email.body();
    if (!text.startsWith(current) || (!plain && !html)) {
        if (plain)
            setPartText(plain, text);
        else
            addTextPart(email, text);
        return;
    }
    const QString addition = text.mid(current.size());
    if (plain) {
        const QString existing = partText(plain);
        setPartText(plain, existing + withLineEnds(addition, existing));
    }
    if (html)
        setPartText(html, appendHtml(partText(html), asHtmlParagraph(addition)));
}

void writeEmail(const ParsedEmail &email, int fd)
{
    qb::GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(fd));
    g_mime_stream_fs_set_owner(GMIME_STREAM_FS(out.get()), FALSE);
    if (g_mime_object_write_to_stream(GMIME_OBJECT(email.message()), nullptr, out.get()) < 0 ||
        g_mime_stream_flush(out.get()) != 0 || ::fsync(fd) != 0)
        fail(QStringLiteral("Cannot write the email: %1")
                 .arg(QString::fromLocal8Bit(strerror(errno))));
}

} // namespace mime
