#include "AttachmentRule.h"

#include "HeaderMemo.h"
#include "HeaderText.h"
#include "MimeParameter.h"

#include <QMimeDatabase>

namespace mime {

namespace {

bool isTextBodyType(const QByteArray &type)
{
    return type == "text/plain" || type == "text/html";
}

QString extensionForType(const QByteArray &mimeType)
{
    const QString suffix =
        QMimeDatabase().mimeTypeForName(QString::fromLatin1(mimeType)).preferredSuffix();
    return suffix.isEmpty() ? QStringLiteral("bin") : suffix;
}

QString numberedName(int position, const QString &extension)
{
    return QStringLiteral("ATT%1.%2").arg(position, 5, 10, QLatin1Char('0')).arg(extension);
}

} // namespace

bool isSignatureType(const QByteArray &type)
{
    return type == "application/pgp-signature" || type == "application/pkcs7-signature" ||
           type == "application/x-pkcs7-signature";
}

bool isProtectedType(const QByteArray &type)
{
    return type == "multipart/signed" || type == "multipart/encrypted" ||
           type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime";
}

// GMime's own decoding drops text after some runs of encoded words, so names holding
// encoded words are decoded here instead.
Disposition dispositionFrom(const QByteArray &contentType, const QByteArray &disposition,
                            HeaderMemo *memo)
{
    Disposition result;
    HeaderMemo::Disposition parsedDisposition;
    if (!disposition.isNull()) {
        parsedDisposition =
            memo ? memo->disposition(disposition) : HeaderMemo::parseDisposition(disposition);
        result.attachment = parsedDisposition.attachment;
    }
    if (disposition.contains("=?") || contentType.contains("=?")) {
        QByteArray value = parameterValue(disposition, "filename");
        if (value.isEmpty())
            value = parameterValue(contentType, "name");
        if (!value.isEmpty()) {
            result.filename = decodeHeaderText(value);
            return result;
        }
    }
    if (!parsedDisposition.filename.isEmpty()) {
        result.filename = QString::fromUtf8(parsedDisposition.filename);
        return result;
    }
    if (!contentType.isEmpty()) {
        const QByteArray name = memo ? memo->contentType(contentType).name
                                     : HeaderMemo::parseContentType(contentType).name;
        if (!name.isNull())
            result.filename = QString::fromUtf8(name);
    }
    return result;
}

QString attachmentName(NodeKind kind, const QByteArray &mimeType, const Disposition &disposition,
                       int position, const std::function<QString()> &attachedSubject)
{
    if (kind == NodeKind::Message) {
        // An attached email is one attachment; its own parts are not listed.
        if (!disposition.filename.isEmpty())
            return disposition.filename;
        const QString subject = attachedSubject();
        return subject.isEmpty() ? numberedName(position, QStringLiteral("eml"))
                                 : subject + QStringLiteral(".eml");
    }
    if (isSignatureType(mimeType))
        return {};
    if (disposition.filename.isEmpty() && !disposition.attachment && isTextBodyType(mimeType))
        return {};
    if (!disposition.filename.isEmpty())
        return disposition.filename;
    return numberedName(position, extensionForType(mimeType));
}

} // namespace mime
