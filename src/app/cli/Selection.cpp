#include "Selection.h"

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
        {QStringLiteral("min-attachment-size"),
         QStringLiteral("Select attachments of at least this many bytes."),
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
        {QStringLiteral("in-folder"),
         QStringLiteral("Select this folder's attachments alone, not its subfolders', "
                        "named as the listing names it."),
         QStringLiteral("FOLDER")},
    });
}

Selection Selection::fromOptions(const QCommandLineParser &parser)
{
    Selection selection;
    AttachmentFilter &filter = selection.filter;
    selection.all = parser.isSet(QStringLiteral("all"));
    for (const QString &type : parser.values(QStringLiteral("type"))
                                   .join(QLatin1Char(','))
                                   .split(QLatin1Char(','), Qt::SkipEmptyParts))
        filter.types << type.trimmed().toCaseFolded();
    if (parser.isSet(QStringLiteral("min-size")))
        filter.minEmailSize = sizeValue(parser, QStringLiteral("min-size"));
    if (parser.isSet(QStringLiteral("max-size")))
        filter.maxEmailSize = sizeValue(parser, QStringLiteral("max-size"));
    if (parser.isSet(QStringLiteral("min-attachment-size")))
        filter.minAttachmentSize = sizeValue(parser, QStringLiteral("min-attachment-size"));
    // The options name days excluded; the filter names the first and last days kept.
    if (parser.isSet(QStringLiteral("before")))
        filter.lastDay = dateValue(parser, QStringLiteral("before")).addDays(-1);
    if (parser.isSet(QStringLiteral("after")))
        filter.firstDay = dateValue(parser, QStringLiteral("after")).addDays(1);
    filter.from = parser.value(QStringLiteral("from"));
    filter.subject = parser.value(QStringLiteral("subject"));
    filter.folder = parser.value(QStringLiteral("in-folder"));
    if (!filter.folder.isEmpty() && !filter.folder.endsWith(QLatin1Char('\\')))
        filter.folder += QLatin1Char('\\');
    return selection;
}

bool Selection::selectsSomething() const
{
    return all || !filter.isEmpty();
}

bool Selection::matches(const TAttach &record) const
{
    return selectsSomething() && filter.matches(record);
}

} // namespace cli
