#pragma once

#include "MimeTree.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace mime {

class HeaderMemo;

// Which parts of an email are listed as its attachments, and under which names. Every
// store applies this one rule, whether it reads the parts' headers from the email's
// bytes or is told them by a server, so the same email lists the same rows anywhere.

struct Disposition
{
    bool attachment = false;
    QString filename;
};

// What a part's Content-Type and Content-Disposition values (unfolded, as in the
// email; null when the header is absent) say of it: whether it is an attachment by
// disposition, and its file name (Content-Disposition's filename, else Content-Type's
// name).
Disposition dispositionFrom(const QByteArray &contentType, const QByteArray &disposition,
                            HeaderMemo *memo = nullptr);

// The name a non-multipart part is listed under, or a null text when it is not listed:
// a signature, or an unnamed plain or HTML text that is not an attachment by
// disposition. An attached email is always listed, named after its subject when it has
// no file name; other unnamed parts get "ATT<position>.<extension of their type>".
// position is the 1-based place the part would take among the email's attachments.
QString attachmentName(NodeKind kind, const QByteArray &mimeType, const Disposition &disposition,
                       int position, const std::function<QString()> &attachedSubject);

// Parts that carry a signature, and types that make an email signed or encrypted.
bool isSignatureType(const QByteArray &mimeType);
bool isProtectedType(const QByteArray &mimeType);

} // namespace mime
