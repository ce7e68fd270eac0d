#include "AttachmentTable.h"

#include "TerminalText.h"
#include "mailstore/AttachText.h"

#include <algorithm>
#include <vector>

namespace table {

namespace {

// A field with a control character is quoted too, so a reader sees where it ends;
// its bytes stay as they are.
void appendCsvField(QString &line, const QString &text)
{
    const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char(',') || c == QLatin1Char('"') || cli::isControl(c);
    });
    if (plain) {
        line += text;
        return;
    }
    line += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            line += QLatin1Char('"');
        line += c;
    }
    line += QLatin1Char('"');
}

} // namespace

// The texts of rows in turn. The rows of one email follow each other and share its size
// and date, whose texts take the most work: they are made once per email.
class RowTexts
{
public:
    explicit RowTexts(const QLocale &locale) : m_locale(locale), m_dates(locale) {}

    QString text(const TAttach &record, AttachColumn column)
    {
        if (column == AttachColumn::Size) {
            if (m_sizeText.isNull() || record.Size != m_size) {
                m_size = record.Size;
                m_sizeText = SizeText(record, m_locale);
            }
            return m_sizeText;
        }
        if (column == AttachColumn::Date) {
            if (m_dateText.isNull() || record.Date != m_date) {
                m_date = record.Date;
                m_dateText = m_dates.of(record.Date);
            }
            return m_dateText;
        }
        return cellText(record, column, m_locale);
    }
    QStringList of(const AttachmentList &list, int position, const Columns &columns)
    {
        const auto record = list.record(position);
        QStringList texts;
        if (record) {
            for (const AttachColumn column : columns)
                texts << text(*record, column);
        }
        return texts;
    }

private:
    QLocale m_locale;
    qint64 m_size = 0;
    QString m_sizeText;
    double m_date = 0;
    QString m_dateText;
    DateTexts m_dates;
};

Columns csvColumns()
{
    Columns columns;
    for (int column = 1; column <= attachColumnCount; ++column)
        columns.push_back(AttachColumn(column));
    return columns;
}

Columns tableColumns()
{
    return Columns(shownColumnOrder().begin(), shownColumnOrder().end());
}

QStringList headings(const Columns &columns)
{
    QStringList names;
    for (const AttachColumn column : columns)
        names << columnHeading(column);
    return names;
}

QStringList rowTexts(const AttachmentList &list, int position, const QLocale &locale)
{
    const auto record = list.record(position);
    if (!record)
        return {};
    QStringList texts;
    for (const AttachColumn column : csvColumns())
        texts << cellText(*record, column, locale);
    return texts;
}

std::optional<AttachColumn> columnNamed(const QString &name)
{
    const auto bare = [](QString text) {
        text.remove(QLatin1Char(' '));
        text.remove(QLatin1Char('-'));
        return text;
    };
    for (const AttachColumn column : csvColumns()) {
        if (bare(columnHeading(column)).compare(bare(name), Qt::CaseInsensitive) == 0)
            return column;
    }
    return std::nullopt;
}

CsvWriter::CsvWriter(LineSink sink, const QLocale &locale)
    : m_sink(std::move(sink)), m_columns(csvColumns()), m_rows(std::make_unique<RowTexts>(locale))
{
}

CsvWriter::~CsvWriter() = default;

void CsvWriter::writeHeadings()
{
    const QStringList names = headings(m_columns);
    writeLine([&names](qsizetype i) { return names[i]; });
}

void CsvWriter::writeRows(const AttachmentList &list, int from, int to)
{
    for (const auto &record : list.records(from, to))
        writeLine([&](qsizetype i) { return m_rows->text(*record, m_columns[size_t(i)]); });
}

void CsvWriter::writeLine(const std::function<QString(qsizetype)> &field)
{
    m_line.resize(0); // keeps the buffer, as clear() would not
    for (qsizetype i = 0; i < qsizetype(m_columns.size()); ++i) {
        if (i > 0)
            m_line += QLatin1Char(',');
        appendCsvField(m_line, field(i));
    }
    m_line += QLatin1String("\r\n");
    m_sink(m_line);
}

void writeCsv(const AttachmentList &list, const LineSink &sink, const QLocale &locale)
{
    CsvWriter csv(sink, locale);
    csv.writeHeadings();
    csv.writeRows(list, 0, list.count());
}

void writeAligned(const AttachmentList &list, const LineSink &sink, const QLocale &locale)
{
    // Two passes over the rows: one for the column widths, one to print; a row's cells
    // live only while it is measured or printed.
    RowTexts rows(locale);
    const Columns columns = tableColumns();
    const auto cells = [&](int position) {
        QStringList texts = position < 0 ? headings(columns) : rows.of(list, position, columns);
        for (QString &text : texts)
            text = cli::terminalSafe(text, cellWidth);
        return texts;
    };
    std::vector<qsizetype> widths(columns.size(), 0);
    for (int i = -1; i < list.count(); ++i) {
        const QStringList row = cells(i);
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], cli::characterCount(row[c]));
    }
    // Sizes line up on the right.
    const auto rightAligned = [&](qsizetype c) {
        return columns[size_t(c)] == AttachColumn::Size ||
               columns[size_t(c)] == AttachColumn::AttachmentSize;
    };
    for (int i = -1; i < list.count(); ++i) {
        const QStringList row = cells(i);
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += QStringLiteral("  ");
            const QString padding(widths[size_t(c)] - cli::characterCount(row[c]),
                                  QLatin1Char(' '));
            line += rightAligned(c) ? padding + row[c] : row[c] + padding;
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        sink(line + QLatin1Char('\n'));
    }
}

} // namespace table
