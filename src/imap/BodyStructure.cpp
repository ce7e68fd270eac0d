#include "imap/BodyStructure.h"

#include "common/Error.h"
#include "imap/ResponseValue.h"

namespace imap {

namespace {

[[noreturn]] void malformed(const char *what)
{
    throw qb::MailStoreError(QStringLiteral("Malformed BODYSTRUCTURE from the IMAP server: %1")
                                 .arg(QLatin1String(what)));
}

using Parameters = std::vector<std::pair<QByteArray, QByteArray>>;

// A parameter list "(name value name value ...)" or NIL; an odd last name is dropped.
Parameters parameterList(const Value &value)
{
    Parameters parameters;
    if (!value.isList())
        return parameters;
    for (size_t i = 0; i + 1 < value.list.size(); i += 2)
        parameters.emplace_back(value.list[i].nstring().toLower(), value.list[i + 1].nstring());
    return parameters;
}

// body-fld-dsp: ("attachment" (params)) or NIL. Some servers send a bare string.
void readDisposition(BodyPart &part, const Value &value)
{
    if (value.isList() && !value.list.empty()) {
        part.disposition = value.list[0].nstring().toLower();
        if (value.list.size() > 1)
            part.dispositionParameters = parameterList(value.list[1]);
    } else if (value.kind == Value::Kind::String) {
        part.disposition = value.text.toLower();
    }
}

QByteArray childSection(const QByteArray &parent, size_t index)
{
    const QByteArray number = QByteArray::number(qulonglong(index + 1));
    return parent.isEmpty() ? number : parent + '.' + number;
}

BodyPart parsePart(const Value &value, const QByteArray &section, bool topLevel);

BodyPart parseMultipart(const Value &value, const QByteArray &section)
{
    BodyPart part;
    part.kind = BodyPart::Kind::Multipart;
    part.type = "multipart";
    part.section = section;
    const auto &fields = value.list;
    size_t i = 0;
    for (; i < fields.size() && fields[i].isList(); ++i)
        part.children.push_back(parsePart(fields[i], childSection(section, i), false));
    if (i >= fields.size())
        malformed("a multipart without its subtype");
    part.subtype = fields[i].nstring().toLower();
    // body-ext-mpart: parameters, disposition, language, location, extensions.
    if (i + 1 < fields.size())
        part.parameters = parameterList(fields[i + 1]);
    if (i + 2 < fields.size())
        readDisposition(part, fields[i + 2]);
    return part;
}

BodyPart parseSinglePart(const Value &value, const QByteArray &section)
{
    const auto &fields = value.list;
    if (fields.size() < 7)
        malformed("a part with fewer than seven fields");
    BodyPart part;
    part.section = section;
    part.type = fields[0].nstring().toLower();
    part.subtype = fields[1].nstring().toLower();
    part.parameters = parameterList(fields[2]);
    part.id = fields[3].nstring();
    part.description = fields[4].nstring();
    part.encoding = fields[5].nstring().toLower();
    bool ok = false;
    part.size = fields[6].number(&ok);
    if (!ok && !fields[6].isNil())
        malformed("a part's size is not a number");

    // What follows the seven body fields depends on the type: message/rfc822 has an
    // envelope, a body and a line count; text has a line count. Then come the extension
    // data: MD5, disposition, language, location.
    size_t extension = 7;
    const bool isMessage = part.type == "message" &&
                           (part.subtype == "rfc822" || part.subtype == "global") &&
                           fields.size() >= 10 && fields[7].isList() && fields[8].isList();
    if (isMessage) {
        part.kind = BodyPart::Kind::Message;
        part.envelope = parseEnvelope(fields[7]);
        // The message's parts are numbered below its own section; a single-part body is
        // its section's part 1.
        const bool bodyIsMultipart = !fields[8].list.empty() && fields[8].list.front().isList();
        part.children.push_back(
            parsePart(fields[8], bodyIsMultipart ? section : childSection(section, 0), false));
        extension = 10;
    } else if (part.type == "text") {
        extension = 8;
    }
    if (extension + 1 < fields.size())
        readDisposition(part, fields[extension + 1]);
    return part;
}

BodyPart parsePart(const Value &value, const QByteArray &section, bool topLevel)
{
    if (!value.isList() || value.list.empty())
        malformed("a part is not a list");
    if (value.list.front().isList())
        return parseMultipart(value, topLevel ? QByteArray() : section);
    return parseSinglePart(value, topLevel ? QByteArray("1") : section);
}

QByteArray findParameter(const Parameters &parameters, QByteArrayView name)
{
    for (const auto &[key, value] : parameters) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    }
    return {};
}

} // namespace

QByteArray BodyPart::parameter(QByteArrayView name) const
{
    return findParameter(parameters, name);
}

QByteArray BodyPart::dispositionParameter(QByteArrayView name) const
{
    return findParameter(dispositionParameters, name);
}

BodyPart parseBodyStructure(const Value &value)
{
    return parsePart(value, QByteArray(), true);
}

} // namespace imap
