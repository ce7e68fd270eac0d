#pragma once

#include <QByteArray>
#include <QString>

// An attachment put back into an email from the file it was saved to, written as a
// MIME part of its own.
namespace mime {

struct RestoredAttachment
{
    QString filename;
    QByteArray contentType; // "type/subtype"; anything else is written as application/octet-stream
    QByteArray content;     // the file's bytes
};

// "type/subtype" in lower case when text is one, else application/octet-stream.
QByteArray cleanContentType(QByteArrayView text);

// The part's header lines and body with lineBreak between lines, not ended by a
// line break (the boundary line that follows brings one).
QByteArray restoredPart(const RestoredAttachment &attachment, const QByteArray &lineBreak);

} // namespace mime
