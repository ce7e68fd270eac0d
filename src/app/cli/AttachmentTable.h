#pragma once

#include "mailstore/AttachmentList.h"

#include <QLocale>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The grid's columns as text, for printing. The tables are handed out a line at a time,
// so that no table is ever held whole.
namespace table {

// Takes one line of a table, with its line end.
using LineSink = std::function<void(const QString &line)>;

// The most characters a cell of the aligned table shows.
constexpr qsizetype cellWidth = 60;

using Columns = std::vector<AttachColumn>;
// The CSV's columns: data columns 1 to 8 in their numbers' order, so that Attachment size,
// which came last, is the last field and earlier readers find their fields where they were.
Columns csvColumns();
// The aligned table's: as the grid first shows them.
Columns tableColumns();

QStringList headings(const Columns &columns);
// The texts of one row in the CSV's columns, as the grid shows them.
QStringList rowTexts(const AttachmentList &list, int position, const QLocale &locale = QLocale());
// The column a --sort name means: its heading in any letter case, spaces and hyphens
// optional ("Attachment size", "attachment-size", "AttachmentSize").
std::optional<AttachColumn> columnNamed(const QString &name);

class RowTexts;

// RFC 4180: a header line, then one line a row, CRLF line ends, the columns of
// csvColumns(). Texts stay as they are; a field with a comma, a quote or a control is
// quoted. Rows are written as they come, so a table can be printed while it grows.
class CsvWriter
{
public:
    explicit CsvWriter(LineSink sink, const QLocale &locale = QLocale());
    ~CsvWriter();
    CsvWriter(const CsvWriter &) = delete;
    CsvWriter &operator=(const CsvWriter &) = delete;

    void writeHeadings();
    // The list's rows from position from up to, not including, position to.
    void writeRows(const AttachmentList &list, int from, int to);

private:
    // One line of the fields field(0), field(1)... of the CSV's columns.
    void writeLine(const std::function<QString(qsizetype)> &field);

    LineSink m_sink;
    Columns m_columns;
    QString m_line; // one buffer for every line: a store's table has tens of thousands
    std::unique_ptr<RowTexts> m_rows;
};

// The whole list as CSV.
void writeCsv(const AttachmentList &list, const LineSink &sink, const QLocale &locale = QLocale());
// The columns of tableColumns() padded to their widest cell, separated by two spaces,
// sizes aligned on the right. A cell shows controls as \xNN and at most cellWidth characters.
void writeAligned(const AttachmentList &list, const LineSink &sink,
                  const QLocale &locale = QLocale());

} // namespace table
