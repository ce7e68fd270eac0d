#include "RemoteMessage.h"

#include "common/Error.h"
#include "mailstore/mime/AttachmentRule.h"
#include "mailstore/mime/DecodedSize.h"
#include "mailstore/mime/HeaderText.h"
#include "mailstore/mime/ParsedEmail.h"

#include <algorithm>

namespace imapstore {

namespace {

using Parameters = std::vector<std::pair<QByteArray, QByteArray>>;

bool isToken(const QByteArray &value)
{
    if (value.isEmpty())
        return false;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || QByteArrayView("()<>@,;:\\\"/[]?=").contains(c))
            return false;
    }
    return true;
}

// A header value as the email would have held it: the first word, then each parameter,
// quoted unless it is an extended (RFC 2231) value, which is never quoted.
QByteArray headerValue(const QByteArray &first, const Parameters &parameters)
{
    QByteArray value = first;
    for (const auto &[name, text] : parameters) {
        value += "; " + name + '=';
        if (name.endsWith('*') && isToken(text)) {
            value += text;
            continue;
        }
        QByteArray quoted = text;
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        value += '"' + quoted + '"';
    }
    return value;
}

mime::NodeKind kindOf(const imap::BodyPart &part)
{
    switch (part.kind) {
    case imap::BodyPart::Kind::Multipart:
        return mime::NodeKind::Multipart;
    case imap::BodyPart::Kind::Message:
        return mime::NodeKind::Message;
    case imap::BodyPart::Kind::Leaf:
        break;
    }
    return mime::NodeKind::Leaf;
}

void collect(const imap::BodyPart &part, std::vector<RemotePart> &found, mime::HeaderMemo *memo)
{
    if (part.kind == imap::BodyPart::Kind::Multipart) {
        for (const imap::BodyPart &child : part.children)
            collect(child, found, memo);
        return;
    }
    const QByteArray mimeType = part.type + '/' + part.subtype;
    const QByteArray disposition = part.disposition.isEmpty()
                                       ? QByteArray()
                                       : headerValue(part.disposition, part.dispositionParameters);
    const QString name = mime::attachmentName(
        kindOf(part), mimeType,
        mime::dispositionFrom(headerValue(mimeType, part.parameters), disposition, memo),
        int(found.size()) + 1, [&] { return mime::decodeHeaderText(part.envelope.subject); });
    if (!name.isNull())
        found.push_back(
            {part.section.isEmpty() ? QByteArray("1") : part.section, part.encoding, name,
             mime::decodedSizeFromOctets(part.size, mime::transferOf(part.encoding)), mimeType});
}

QByteArray requiredText(const imap::Response &fetch, QByteArrayView item)
{
    const imap::Value *value = imap::fetchItem(fetch, item);
    if (!value || value->isNil() || value->isList()) {
        throw qb::MailStoreError(QStringLiteral("The server's answer for message %1 lacks %2")
                                     .arg(fetch.number)
                                     .arg(QString::fromLatin1(item.toByteArray())));
    }
    return value->text;
}

} // namespace

QByteArray summaryFetchItems()
{
    return "(UID RFC822.SIZE INTERNALDATE FLAGS BODYSTRUCTURE "
           "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)])";
}

std::vector<RemotePart> attachmentsOf(const imap::BodyPart &structure, mime::HeaderMemo *memo)
{
    std::vector<RemotePart> found;
    collect(structure, found, memo);
    return found;
}

bool isSignedOrEncrypted(const imap::BodyPart &structure)
{
    if (mime::isProtectedType(structure.type + '/' + structure.subtype))
        return true;
    if (structure.kind != imap::BodyPart::Kind::Multipart)
        return false;
    for (const imap::BodyPart &child : structure.children) {
        if (isSignedOrEncrypted(child))
            return true;
    }
    return false;
}

QDateTime fromInternalDate(const QByteArray &text)
{
    // "dd-Mon-yyyy hh:mm:ss +zzzz", the day perhaps space-padded; read by hand, as a
    // general date parser costs more than the rest of a message's row.
    static constexpr const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QByteArray trimmed = text.trimmed();
    const QList<QByteArray> words = trimmed.split(' ');
    if (words.size() != 3)
        return {};
    const QList<QByteArray> day = words.at(0).split('-');
    const QList<QByteArray> clock = words.at(1).split(':');
    const QByteArray &zone = words.at(2);
    if (day.size() != 3 || clock.size() != 3 || zone.size() != 5 ||
        (zone[0] != '+' && zone[0] != '-'))
        return {};
    int month = 0;
    while (month < 12 && day.at(1).compare(months[month], Qt::CaseInsensitive) != 0)
        ++month;
    bool ok[8] = {};
    const QDate date(day.at(2).toInt(&ok[0]), month + 1, day.at(0).toInt(&ok[1]));
    const QTime time(clock.at(0).toInt(&ok[2]), clock.at(1).toInt(&ok[3]),
                     clock.at(2).toInt(&ok[4]));
    const int hours = zone.mid(1, 2).toInt(&ok[5]);
    const int minutes = zone.mid(3, 2).toInt(&ok[6]);
    ok[7] = month < 12 && date.isValid() && time.isValid();
    if (std::find(std::begin(ok), std::end(ok), false) != std::end(ok))
        return {};
    const int offset = (zone[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return QDateTime(date, time, Qt::OffsetFromUTC, offset).toLocalTime();
}

RemoteMessage readRemoteMessage(const imap::Response &fetch, mime::HeaderMemo *memo)
{
    RemoteMessage message;
    bool ok = false;
    message.uid = requiredText(fetch, "UID").toLongLong(&ok);
    if (!ok || message.uid <= 0)
        throw qb::MailStoreError(QStringLiteral("The server sent a message without a valid UID"));
    message.summary.size = requiredText(fetch, "RFC822.SIZE").toLongLong();
    message.internalDate = requiredText(fetch, "INTERNALDATE");
    message.summary.receivedTime = fromInternalDate(message.internalDate);
    if (const imap::Value *flags = imap::fetchItem(fetch, "FLAGS")) {
        for (const imap::Value &flag : flags->list) {
            message.flags << flag.text;
            if (flag.text.compare("\\Deleted", Qt::CaseInsensitive) == 0)
                message.deleted = true;
        }
    }
    const imap::Value *structure = imap::fetchItem(fetch, "BODYSTRUCTURE");
    if (!structure)
        throw qb::MailStoreError(
            QStringLiteral("The server sent no structure for message UID %1").arg(message.uid));
    const imap::BodyPart parts = imap::parseBodyStructure(*structure);
    message.signedOrEncrypted = isSignedOrEncrypted(parts);
    for (RemotePart &part : attachmentsOf(parts, memo)) {
        message.summary.attachmentNames << part.filename;
        message.summary.attachmentSizes << part.decodedSize;
        message.attachments.push_back(std::move(part));
    }
    // The header fields are read by the same reader as an email on disk.
    QByteArray header;
    if (const imap::Value *fields =
            imap::fetchItem(fetch, "BODY[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)]"))
        header = fields->nstring();
    if (!header.endsWith("\r\n\r\n"))
        header += "\r\n";
    const mime::ParsedEmail headers(header, memo);
    message.summary.subject = headers.subject();
    message.summary.senderName = headers.senderName();
    message.messageId = headers.tree().interpretedHeader(0, "Message-ID").trimmed();
    return message;
}

} // namespace imapstore
