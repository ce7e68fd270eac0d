#pragma once

#include <QByteArray>
#include <QString>

// Finding a note again in a text part's decoded content, the reverse of what
// NoteText.h writes, in the same charset, whichever line breaks the part ended up
// with, so that it can be taken out or changed in place.
namespace mime {

// Replaces the last copy of note in content (a text part's decoded bytes in charset)
// with replacement written the same way, or removes it when replacement is empty;
// returns false and leaves content alone when content holds no copy. Plain text loses
// the note's lines; HTML loses the note's paragraph, or the note and the line breaks
// that joined it to others written in the same paragraph.
bool changeNote(QByteArray &content, const QString &note, const QString &replacement,
                const QByteArray &charset, bool html);

} // namespace mime
