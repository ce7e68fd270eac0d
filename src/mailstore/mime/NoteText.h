#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The bytes of a note as they are added to a text part: in the part's charset,
// with the part's line breaks, never touching what is already there.
namespace mime {

// The note in charset (the part's own; empty when the part names none, where only
// ASCII can be written) with each line break as lineBreak. Nothing when the
// charset cannot hold the note or is not one that keeps ASCII as it is.
std::optional<QByteArray> noteInCharset(const QString &note, const QByteArray &charset,
                                        const QByteArray &lineBreak);

// The note as an HTML paragraph with live file links, ASCII only (other characters
// as character references), so that any ASCII-compatible charset holds it.
QByteArray noteAsHtml(const QString &note, const QByteArray &lineBreak);

// Where in an HTML document a paragraph goes: before the last </body>, else at the end.
qsizetype htmlInsertionPoint(QByteArrayView html);

// "\r\n" when the text's first line break is CR LF, "\n" when it is LF, fallback
// when it has none.
QByteArray lineBreakIn(QByteArrayView text, const QByteArray &fallback);

} // namespace mime
