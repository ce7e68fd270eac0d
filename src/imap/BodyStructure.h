#pragma once

// A FETCH BODYSTRUCTURE (or the non-extensible BODY) as a tree of parts, each with the
// section number that BODY.PEEK[section] fetches it by (RFC 3501 6.4.5).

#include "imap/Envelope.h"

#include <QByteArray>

#include <utility>
#include <vector>

namespace imap {

struct Value;

struct BodyPart
{
    enum class Kind { Multipart, Message, Leaf };
    Kind kind = Kind::Leaf;
    QByteArray type, subtype;                                  // lower-case
    std::vector<std::pair<QByteArray, QByteArray>> parameters; // as sent, names lower-case
    QByteArray id, description, encoding;                      // encoding lower-case
    qint64 size = 0;                                           // octets of the encoded body
    QByteArray disposition;                                    // lower-case, empty when NIL
    std::vector<std::pair<QByteArray, QByteArray>> dispositionParameters; // names lower-case
    // "1", "1.2", "2"...; a single-part message's body is "1". A multipart has the section
    // of the part that holds it (empty for the message's own top-level multipart), and a
    // message/rfc822 part's body the part's section (its parts are "N.1", "N.2"...).
    QByteArray section;
    Envelope envelope;              // for message/rfc822
    std::vector<BodyPart> children; // a multipart's parts, or the one body of a message/rfc822

    // The value of a parameter by name (case-insensitive), a null QByteArray when absent.
    QByteArray parameter(QByteArrayView name) const;
    QByteArray dispositionParameter(QByteArrayView name) const;
};

// Throws qb::MailStoreError when the value is not a body structure; missing extension
// data (disposition, language...) is fine.
BodyPart parseBodyStructure(const Value &value);

} // namespace imap
