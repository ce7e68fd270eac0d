#include "AttachmentTable.h"

#include "TerminalText.h"
#include "mailstore/AttachText.h"
#include "mailstore/AttachmentList.h"

#include <algorithm>

namespace table {

using cli::terminalSafe;

namespace {

// A field with a control character is quoted too, so a reader sees where it ends;
// its bytes stay as they are.
QString csvField(const QString &text)
{
    const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char(',') || c == QLatin1Char('"') || cli::isControl(c);
    });
    if (plain)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QStringList headings()
{
    QStringList names;
    for (int column = 1; column <= 7; ++column)
        names << columnHeading(AttachColumn(column));
    return names;
}

QStringList rowTexts(const AttachmentList &list, int position, const QLocale &locale)
{
    const auto record = list.record(position);
    if (!record)
        return {};
    QStringList texts;
    for (int column = 1; column <= 7; ++column)
        texts << cellText(*record, AttachColumn(column), locale);
    return texts;
}

QString csv(const AttachmentList &list, const QLocale &locale)
{
    const auto line = [](const QStringList &fields) {
        QStringList quoted;
        for (const QString &field : fields)
            quoted << csvField(field);
        return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    QString out = line(headings());
    for (int i = 0; i < list.count(); ++i)
        out += line(rowTexts(list, i, locale));
    return out;
}

QString aligned(const AttachmentList &list, const QLocale &locale)
{
    std::vector<QStringList> rows{headings()};
    for (int i = 0; i < list.count(); ++i) {
        QStringList texts = rowTexts(list, i, locale);
        for (QString &text : texts)
            text = terminalSafe(text);
        rows.push_back(texts);
    }
    std::vector<qsizetype> widths(size_t(headings().size()), 0);
    for (const QStringList &row : rows) {
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], row[c].size());
    }
    const qsizetype sizeColumn = 2; // numbers line up on the right
    QString out;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += QStringLiteral("  ");
            const auto width = int(widths[size_t(c)]);
            line += c == sizeColumn ? row[c].rightJustified(width) : row[c].leftJustified(width);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
    }
    return out;
}

} // namespace table
