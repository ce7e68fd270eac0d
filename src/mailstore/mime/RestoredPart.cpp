#include "RestoredPart.h"

#include "MimeParameter.h"
#include "TransferCoding.h"

#include <algorithm>

namespace mime {

namespace {

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 128; });
}

// name="value" when the name is plain ASCII that a quoted string holds as it is;
// else the RFC 2231 form name*=utf-8''%XX, which every character survives.
QByteArray parameter(const QByteArray &name, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    const bool plain = std::all_of(utf8.begin(), utf8.end(), [](char c) {
        return uchar(c) >= 32 && uchar(c) < 127 && c != '"' && c != '\\';
    });
    if (plain && !utf8.contains("=?"))
        return name + "=\"" + utf8 + '"';
    QByteArray encoded;
    for (const char c : utf8) {
        if (isTokenCharacter(c) && c != '*' && c != '\'' && c != '%')
            encoded += c;
        else
            encoded += '%' + QByteArray::number(uchar(c), 16).toUpper().rightJustified(2, '0');
    }
    return name + "*=utf-8''" + encoded;
}

} // namespace

QByteArray cleanContentType(QByteArrayView text)
{
    const QByteArray type = text.trimmed().toByteArray().toLower();
    const qsizetype slash = type.indexOf('/');
    if (slash > 0 && isToken(QByteArrayView(type).first(slash)) &&
        isToken(QByteArrayView(type).sliced(slash + 1)))
        return type;
    return QByteArrayLiteral("application/octet-stream");
}

QByteArray restoredPart(const RestoredAttachment &attachment, const QByteArray &lineBreak)
{
    const QByteArray type = cleanContentType(attachment.contentType);
    QByteArray encoding;
    QByteArray body;
    if (type.startsWith("message/")) {
        // An attached email may not be base64 (RFC 2046); its own bytes are its content.
        // The caller makes sure no line of it reads as a boundary of the email.
        encoding = isAscii(attachment.content) ? "7bit" : "8bit";
        // Its last line break stays: the boundary line after it brings one of its own.
        body = attachment.content;
    } else {
        // Base64 for every other type, text included: it carries each byte as it was
        // (bare CR or LF, trailing blanks, long lines, NUL and 8-bit bytes) and no
        // mail program or server rewrites its lines, so the part decodes to the file's
        // bytes exactly. Quoted-printable or 8bit text could come back with its line
        // ends or trailing blanks changed, and with no charset known for the file a
        // reader could not tell its text apart from the bytes anyway.
        encoding = "base64";
        body = encoded(attachment.content, Transfer::Base64, lineBreak);
        while (body.endsWith('\n'))
            body.chop(body.endsWith("\r\n") ? 2 : 1);
    }
    return "Content-Type: " + type + "; " + parameter("name", attachment.filename) + lineBreak +
           "Content-Disposition: attachment; " + parameter("filename", attachment.filename) +
           lineBreak + "Content-Transfer-Encoding: " + encoding + lineBreak + lineBreak + body;
}

} // namespace mime
