#include "SenderName.h"

#include "HeaderText.h"
#include "common/Text.h"

namespace mime {

namespace {

// Reads a quoted string starting at the opening quote; returns its content unescaped.
QByteArray readQuoted(const QByteArray &text, qsizetype &pos)
{
    QByteArray content;
    if (!qb::readQuoted(text, pos, content))
        ++pos; // an unterminated quote runs to the end
    return content;
}

void skipComment(const QByteArray &text, qsizetype &pos)
{
    int depth = 0;
    for (; pos < text.size(); ++pos) {
        if (text[pos] == '\\') {
            ++pos;
        } else if (text[pos] == '(') {
            ++depth;
        } else if (text[pos] == ')' && --depth == 0) {
            ++pos;
            return;
        }
    }
}

} // namespace

QString senderName(const QByteArray &rawFrom)
{
    const QByteArray text = unfold(rawFrom);
    QByteArray phrase; // the display name, quotes removed
    QByteArray address;
    bool sawAngle = false;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '"') {
            phrase += readQuoted(text, pos);
        } else if (c == '(') {
            skipComment(text, pos);
        } else if (c == '<') {
            const qsizetype close = text.indexOf('>', pos);
            address = text.mid(pos + 1, (close < 0 ? text.size() : close) - pos - 1);
            sawAngle = true;
            break;
        } else if (c == ':') {
            phrase.clear(); // a group's name, not a sender's
            ++pos;
        } else if (c == ';') {
            phrase.clear(); // end of a group
            ++pos;
        } else if (c == ',' && phrase.contains('@')) {
            break; // a bare first address ends here
        } else if (c == ',' && phrase.trimmed().isEmpty()) {
            ++pos;
        } else {
            phrase.append(c);
            ++pos;
        }
    }
    phrase = phrase.trimmed();
    if (!sawAngle) {
        // A bare address: what was read as the phrase is the address itself.
        address = phrase;
        phrase.clear();
    }
    const QString name = decodeHeaderText(phrase).simplified();
    if (!name.isEmpty())
        return name;
    return decodeHeaderText(address.trimmed()).simplified();
}

} // namespace mime
