#pragma once

#include <QLocale>
#include <QStringList>

#include <functional>

class AttachmentList;

// The grid's seven columns as text, for printing. The tables are handed out a line at
// a time, so that no table is ever held whole.
namespace table {

// Takes one line of a table, with its line end.
using LineSink = std::function<void(const QString &line)>;

// The most characters a cell of the aligned table shows.
constexpr qsizetype cellWidth = 60;

QStringList headings();
// The texts of one row, as the grid shows them.
QStringList rowTexts(const AttachmentList &list, int position, const QLocale &locale = QLocale());

// RFC 4180: a header line, then one line a row, CRLF line ends. Texts stay as they
// are; a field with a comma, a quote or a control is quoted.
void writeCsv(const AttachmentList &list, const LineSink &sink, const QLocale &locale = QLocale());
// Columns padded to their widest cell, separated by two spaces. A cell shows controls
// as \xNN and at most cellWidth characters.
void writeAligned(const AttachmentList &list, const LineSink &sink,
                  const QLocale &locale = QLocale());

} // namespace table
