#include "NoteCut.h"

#include "NoteText.h"

#include <vector>

namespace mime {

namespace {

// The note's text with its own leading and trailing line breaks left out, as a note
// part of its own holds it.
QString withoutOuterBreaks(QString note)
{
    while (note.startsWith(QLatin1Char('\r')) || note.startsWith(QLatin1Char('\n')))
        note.remove(0, 1);
    while (note.endsWith(QLatin1Char('\r')) || note.endsWith(QLatin1Char('\n')))
        note.chop(1);
    return note;
}

// Every way a note can stand in a text part, most complete first; a form that the
// charset cannot hold is empty. The same index gives the same way for any note.
std::vector<QByteArray> plainForms(const QString &note, const QByteArray &charset)
{
    // A note part of its own lost the outer line breaks, and a quoted-printable part
    // may read its line breaks back as CR LF or LF.
    std::vector<QByteArray> forms;
    for (const QString &text : {note, withoutOuterBreaks(note)}) {
        for (const char *lineBreak : {"\r\n", "\n"})
            forms.push_back(noteInCharset(text, charset, lineBreak).value_or(QByteArray()));
    }
    return forms;
}

std::vector<QByteArray> htmlForms(const QString &note)
{
    const QByteArray paragraph = noteAsHtml(note, QByteArray());
    // "<p>" + the note + "</p>"; notes written together share one paragraph, joined
    // by two <br>.
    const QByteArray inner = paragraph.mid(3, paragraph.size() - 7);
    return {paragraph + "\r\n",
            paragraph + "\n",
            paragraph,
            inner + "<br><br>",
            QByteArray("<br><br>") + inner,
            inner};
}

} // namespace

bool changeNote(QByteArray &content, const QString &note, const QString &replacement,
                const QByteArray &charset, bool html)
{
    const std::vector<QByteArray> forms = html ? htmlForms(note) : plainForms(note, charset);
    for (size_t form = 0; form < forms.size(); ++form) {
        if (forms[form].isEmpty())
            continue;
        const qsizetype at = content.lastIndexOf(forms[form]);
        if (at < 0)
            continue;
        const QByteArray written =
            (html ? htmlForms(replacement) : plainForms(replacement, charset))[form];
        if (written.isEmpty())
            return false; // the charset cannot hold the new note: leave the old one
        content.replace(at, forms[form].size(), written);
        return true;
    }
    return false;
}

} // namespace mime
