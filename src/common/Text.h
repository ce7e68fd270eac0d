#pragma once

#include <QByteArray>
#include <QString>

// Text helpers that several layers need, written once.
namespace qb {

// The UTF-16 units of the character at position i of text: two for a surrogate pair.
qsizetype unitsAt(QStringView text, qsizetype i);

// The first count characters of text, a surrogate pair counting as one and never split.
QString firstCharacters(const QString &text, qsizetype count);

// Reads a double-quoted string in which a backslash escapes the next byte, from pos
// (on the opening quote) to past the closing quote, into content. False when the
// text ends before the closing quote (pos is then at the end, content what was read).
bool readQuoted(QByteArrayView text, qsizetype &pos, QByteArray &content);

} // namespace qb
