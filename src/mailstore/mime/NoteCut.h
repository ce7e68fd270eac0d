#pragma once

#include <QByteArray>
#include <QString>

// Finding a note again in a text part's decoded content, the reverse of what
// NoteText.h writes, in the same charset, whichever line breaks the part ended up
// with, so that it can be changed in place.
namespace mime {

// Replaces the last copy of note in content (a text part's decoded bytes in charset)
// with replacement written the same way; returns false and leaves content alone when
// content holds no copy, or the charset cannot hold the replacement. In HTML a note
// stands in a paragraph of its own or shares one with notes written with it.
bool changeNote(QByteArray &content, const QString &note, const QString &replacement,
                const QByteArray &charset, bool html);

} // namespace mime
