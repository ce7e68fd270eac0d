#include "ParsedEmail.h"

#include "HeaderText.h"
#include "MimeParameter.h"
#include "SenderName.h"
#include "common/Error.h"

#include <QFile>
#include <QMimeDatabase>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mime {

namespace {

bool isType(GMimeObject *object, const char *type, const char *subtype)
{
    GMimeContentType *contentType = g_mime_object_get_content_type(object);
    return contentType && g_mime_content_type_is_type(contentType, type, subtype);
}

bool isSignature(GMimeObject *object)
{
    return isType(object, "application", "pgp-signature") ||
           isType(object, "application", "pkcs7-signature") ||
           isType(object, "application", "x-pkcs7-signature");
}

bool isTextBody(GMimeObject *object)
{
    return isType(object, "text", "plain") || isType(object, "text", "html");
}

bool isAttachmentDisposition(GMimeObject *object)
{
    GMimeContentDisposition *disposition = g_mime_object_get_content_disposition(object);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The file name from the headers: Content-Disposition's filename, else
// Content-Type's name. GMime's own decoding drops text after some runs of
// encoded words, so names holding encoded words are decoded here instead.
QString declaredFilename(GMimeObject *object)
{
    const QByteArray disposition = rawHeader(object, "Content-Disposition");
    const QByteArray contentType = rawHeader(object, "Content-Type");
    if (disposition.contains("=?") || contentType.contains("=?")) {
        QByteArray value = parameterValue(disposition, "filename");
        if (value.isEmpty())
            value = parameterValue(contentType, "name");
        if (!value.isEmpty())
            return decodeHeaderText(value);
    }
    GMimeContentDisposition *parsedDisposition = g_mime_object_get_content_disposition(object);
    if (parsedDisposition) {
        const QString name =
            fromUtf8(g_mime_content_disposition_get_parameter(parsedDisposition, "filename"));
        if (!name.isEmpty())
            return name;
    }
    GMimeContentType *parsedType = g_mime_object_get_content_type(object);
    return parsedType ? fromUtf8(g_mime_content_type_get_parameter(parsedType, "name")) : QString();
}

QString extensionForType(GMimeObject *object)
{
    GMimeContentType *contentType = g_mime_object_get_content_type(object);
    if (!contentType)
        return QStringLiteral("bin");
    gchar *mimeType = g_mime_content_type_get_mime_type(contentType);
    const QString name = QString::fromUtf8(mimeType).toLower();
    g_free(mimeType);
    const QString suffix = QMimeDatabase().mimeTypeForName(name).preferredSuffix();
    return suffix.isEmpty() ? QStringLiteral("bin") : suffix;
}

QString subjectOf(GMimeMessage *message)
{
    return message ? decodeHeaderText(rawHeader(GMIME_OBJECT(message), "Subject")) : QString();
}

void collectAttachments(GMimeObject *object, GMimeObject *parent,
                        std::vector<AttachmentPart> &found)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            collectAttachments(g_mime_multipart_get_part(multipart, i), object, found);
        return;
    }
    const int position = int(found.size()) + 1;
    QString filename = declaredFilename(object);
    if (GMIME_IS_MESSAGE_PART(object)) {
        // An attached email is one attachment; its own parts are not listed.
        if (filename.isEmpty()) {
            const QString subject =
                subjectOf(g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)));
            filename = subject.isEmpty()
                           ? QStringLiteral("ATT%1.eml").arg(position, 5, 10, QLatin1Char('0'))
                           : subject + QStringLiteral(".eml");
        }
        found.push_back({object, parent, filename});
        return;
    }
    if (isSignature(object))
        return;
    if (filename.isEmpty() && !isAttachmentDisposition(object) && isTextBody(object))
        return;
    if (filename.isEmpty()) {
        filename = QStringLiteral("ATT%1.%2")
                       .arg(position, 5, 10, QLatin1Char('0'))
                       .arg(extensionForType(object));
    }
    found.push_back({object, parent, filename});
}

GMimeObject *findBodyPart(GMimeObject *object, const char *subtype)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i) {
            if (GMimeObject *found = findBodyPart(g_mime_multipart_get_part(multipart, i), subtype))
                return found;
        }
        return nullptr;
    }
    if (GMIME_IS_TEXT_PART(object) && isType(object, "text", subtype) &&
        !isAttachmentDisposition(object) && declaredFilename(object).isEmpty())
        return object;
    return nullptr;
}

} // namespace

QByteArray rawHeader(GMimeObject *object, const char *name)
{
    GMimeHeaderList *headers = g_mime_object_get_header_list(object);
    GMimeHeader *header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
    const char *value = header ? g_mime_header_get_raw_value(header) : nullptr;
    return value ? QByteArray(value) : QByteArray();
}

ParsedEmail::ParsedEmail(qb::GObjectPtr<GMimeStream> stream)
{
    qb::GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    m_message.reset(g_mime_parser_construct_message(parser.get(), nullptr));
}

ParsedEmail ParsedEmail::fromFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw qb::MailStoreError(QStringLiteral("Cannot read the email %1: %2")
                                     .arg(path, QString::fromLocal8Bit(strerror(errno))));
    }
    // The stream owns the descriptor from here on.
    return ParsedEmail(qb::GObjectPtr<GMimeStream>(g_mime_stream_fs_new(fd)));
}

ParsedEmail ParsedEmail::fromBytes(const QByteArray &bytes)
{
    return ParsedEmail(qb::GObjectPtr<GMimeStream>(
        g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()))));
}

QString ParsedEmail::subject() const
{
    return subjectOf(m_message.get());
}

QString ParsedEmail::senderName() const
{
    return m_message ? mime::senderName(rawHeader(GMIME_OBJECT(m_message.get()), "From"))
                     : QString();
}

std::vector<AttachmentPart> ParsedEmail::attachments() const
{
    std::vector<AttachmentPart> found;
    GMimeObject *root = m_message ? g_mime_message_get_mime_part(m_message.get()) : nullptr;
    if (root)
        collectAttachments(root, nullptr, found);
    return found;
}

GMimeObject *ParsedEmail::textPart(const char *subtype) const
{
    GMimeObject *root = m_message ? g_mime_message_get_mime_part(m_message.get()) : nullptr;
    return root ? findBodyPart(root, subtype) : nullptr;
}

QString ParsedEmail::body() const
{
    GMimeObject *root = m_message ? g_mime_message_get_mime_part(m_message.get()) : nullptr;
    if (!root)
        return {};
    GMimeObject *part = textPart("plain");
    if (!part)
        part = textPart("html");
    if (!part)
        return {};
    gchar *text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
    const QString body = fromUtf8(text);
    g_free(text);
    return body;
}

} // namespace mime
