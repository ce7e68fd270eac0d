#pragma once

#include <QString>

#include <optional>

// The two columns that end every entry of the action log, after the message: the
// SHA-256 (hex) of a saved file's bytes and the attachment's content type, filled on
// the lines that save a document and empty elsewhere. They come last so that
// readers of the first four columns read them as before.
struct LogDocument
{
    QString sha256;
    QString contentType;
};

// ",sha256,type"; a value holding a comma, a quote or outer blanks is quoted as a CSV
// field ("a,b" -> "\"a,b\"", quotes doubled), so that the columns read back from the
// line's end whatever the message holds.
QString documentColumns(const LogDocument &document);

// The message column of an entry: the message itself, or, when it holds a comma, a
// double quote or a line break, one quoted field (RFC 4180: in double quotes, inner
// quotes doubled), so that no text of a subject adds columns for a spreadsheet.
QString messageField(const QString &message);

// An entry line of the log split into its columns.
struct LogLine
{
    QString date;
    QString time;
    QString level;
    QString message;
    LogDocument document;
    // False for a line written before the two columns existed: the message is then
    // the whole rest of the line.
    bool hasDocumentColumns = false;
};

// Nothing for a line that is not an entry (fewer than four columns). A quoted message
// field is read as one field; an older log's message, never quoted, keeps its commas:
// the document columns are then read from the line's end.
std::optional<LogLine> splitLogLine(const QString &line);
