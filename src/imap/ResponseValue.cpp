#include "imap/ResponseValue.h"

namespace imap {

qint64 Value::number(bool *ok) const
{
    bool valid = kind == Kind::Atom && !text.isEmpty();
    for (qsizetype i = 0; valid && i < text.size(); ++i)
        valid = text.at(i) >= '0' && text.at(i) <= '9';
    // Beyond qint64 (a 64-bit MODSEQ) toLongLong says no.
    const qint64 result = valid ? text.toLongLong(&valid) : 0;
    if (ok)
        *ok = valid;
    return valid ? result : 0;
}

QByteArray Value::nstring() const
{
    if (kind == Kind::Atom || kind == Kind::String)
        return text.isNull() ? QByteArray("") : text;
    return {};
}

bool Response::isStatus() const
{
    return type != Type::Continuation &&
           (name == "OK" || name == "NO" || name == "BAD" || name == "BYE" || name == "PREAUTH");
}

namespace {

// An item name as servers may echo it: "BODY[HEADER.FIELDS ("From" TO)]" names the same
// item as "body[header.fields (FROM TO)]".
QByteArray normalisedItemName(QByteArrayView name)
{
    QByteArray normal;
    normal.reserve(name.size());
    for (const char c : name) {
        if (c == '"' ||
            (c == ' ' && (normal.isEmpty() || normal.back() == ' ' || normal.back() == '(')))
            continue;
        if (c == ')' && normal.endsWith(' '))
            normal.chop(1);
        normal += c;
    }
    return normal.toUpper();
}

} // namespace

const Value *fetchItem(const Response &fetch, QByteArrayView itemName)
{
    if (fetch.values.empty() || !fetch.values.front().isList())
        return nullptr;
    const auto &items = fetch.values.front().list;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        if (items[i].kind == Value::Kind::Atom &&
            QByteArrayView(items[i].text).compare(itemName, Qt::CaseInsensitive) == 0)
            return &items[i + 1];
    }
    if (!itemName.contains('['))
        return nullptr;
    const QByteArray wanted = normalisedItemName(itemName);
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        if (items[i].kind == Value::Kind::Atom && normalisedItemName(items[i].text) == wanted)
            return &items[i + 1];
    }
    return nullptr;
}

} // namespace imap
