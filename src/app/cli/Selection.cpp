#include "Selection.h"

#include "common/AutomationDate.h"
#include "common/Error.h"
#include "mailstore/TAttach.h"

#include <QCommandLineParser>

namespace cli {

namespace {

qint64 sizeValue(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < 0)
        throw qb::Error(
            QStringLiteral("--%1 needs a number of bytes, not %2").arg(name, parser.value(name)));
    return value;
}

QDate dateValue(const QCommandLineParser &parser, const QString &name)
{
    const QDate date = QDate::fromString(parser.value(name), Qt::ISODate);
    if (!date.isValid())
        throw qb::Error(QStringLiteral("--%1 needs a date such as 2024-12-31, not %2")
                            .arg(name, parser.value(name)));
    return date;
}

} // namespace

void Selection::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("all"), QStringLiteral("Select every attachment found.")},
        {QStringLiteral("type"), QStringLiteral("Select these types (comma-separated, any case)."),
         QStringLiteral("T[,T...]")},
        {QStringLiteral("min-size"), QStringLiteral("Select emails of at least this many bytes."),
         QStringLiteral("BYTES")},
        {QStringLiteral("max-size"), QStringLiteral("Select emails of at most this many bytes."),
         QStringLiteral("BYTES")},
        {QStringLiteral("before"), QStringLiteral("Select emails received before this day."),
         QStringLiteral("YYYY-MM-DD")},
        {QStringLiteral("after"), QStringLiteral("Select emails received after this day."),
         QStringLiteral("YYYY-MM-DD")},
        {QStringLiteral("from"), QStringLiteral("Select senders containing this text (any case)."),
         QStringLiteral("TEXT")},
        {QStringLiteral("subject"),
         QStringLiteral("Select subjects containing this text (any case)."),
         QStringLiteral("TEXT")},
    });
}

Selection Selection::fromOptions(const QCommandLineParser &parser)
{
    Selection selection;
    selection.all = parser.isSet(QStringLiteral("all"));
    for (const QString &type : parser.values(QStringLiteral("type"))
                                   .join(QLatin1Char(','))
                                   .split(QLatin1Char(','), Qt::SkipEmptyParts))
        selection.types << type.trimmed().toCaseFolded();
    if (parser.isSet(QStringLiteral("min-size")))
        selection.minSize = sizeValue(parser, QStringLiteral("min-size"));
    if (parser.isSet(QStringLiteral("max-size")))
        selection.maxSize = sizeValue(parser, QStringLiteral("max-size"));
    if (parser.isSet(QStringLiteral("before")))
        selection.before = dateValue(parser, QStringLiteral("before"));
    if (parser.isSet(QStringLiteral("after")))
        selection.after = dateValue(parser, QStringLiteral("after"));
    selection.from = parser.value(QStringLiteral("from"));
    selection.subject = parser.value(QStringLiteral("subject"));
    return selection;
}

bool Selection::selectsSomething() const
{
    return all || !types.isEmpty() || minSize || maxSize || before || after || !from.isEmpty() ||
           !subject.isEmpty();
}

bool Selection::matches(const TAttach &record) const
{
    if (!selectsSomething())
        return false;
    if (!types.isEmpty() && !types.contains(record.Type.toCaseFolded()))
        return false;
    if ((minSize && record.Size < *minSize) || (maxSize && record.Size > *maxSize))
        return false;
    const QDate received = qb::fromAutomationDate(record.Date).date();
    if ((before && received >= *before) || (after && received <= *after))
        return false;
    if (!from.isEmpty() && !record.From.contains(from, Qt::CaseInsensitive))
        return false;
    return subject.isEmpty() || record.Subject.contains(subject, Qt::CaseInsensitive);
}

} // namespace cli
