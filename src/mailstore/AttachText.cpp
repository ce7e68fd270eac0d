#include "AttachText.h"

#include "TAttach.h"
#include "common/AutomationDate.h"

namespace {

// Rounds bytes / unit to a whole number, halves away from zero.
qint64 roundedQuotient(qint64 bytes, qint64 unit)
{
    const qint64 whole = bytes / unit;
    const qint64 rest = bytes % unit;
    if (rest * 2 >= unit)
        return whole + 1;
    if (rest * 2 <= -unit)
        return whole - 1;
    return whole;
}

QString wholeUnits(qint64 bytes, qint64 unit, const QString &suffix, const QLocale &locale)
{
    qint64 value = roundedQuotient(bytes, unit);
    if (value == 0)
        value = 1;
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(value) + suffix;
}

// The locale's long time format without its time zone, which the grid doesn't show.
QString longTimeFormat(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

} // namespace

QString sizeText(qint64 bytes, const QLocale &locale)
{
    if (bytes == 0)
        return QStringLiteral("Unknown");
    if (bytes > 1000000)
        return wholeUnits(bytes, 1000000, QStringLiteral("MB"), locale);
    return wholeUnits(bytes, 1000, QStringLiteral("KB"), locale);
}

QString SizeText(const TAttach &record, const QLocale &locale)
{
    return sizeText(record.Size, locale);
}

QString SafeFileName(const QString &text)
{
    QString safe = text;
    safe.replace(QLatin1Char('.'), QLatin1Char(','));
    for (QChar &c : safe) {
        // Control characters too: a NUL cuts a path short, others garble terminals.
        if (QStringView(u"\\/:*?\"<>|").contains(c) || c.unicode() < 32 || c.unicode() == 127)
            c = QLatin1Char(' ');
    }
    qsizetype begin = 0;
    qsizetype end = safe.size();
    while (begin < end && safe.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && safe.at(end - 1).unicode() <= 32)
        --end;
    return safe.mid(begin, end - begin);
}

QString dateText(double automationDate, const QLocale &locale)
{
    return DateTexts(locale).of(automationDate);
}

DateTexts::DateTexts(const QLocale &locale) : m_locale(locale), m_timeFormat(longTimeFormat(locale))
{
}

QString DateTexts::of(double automationDate)
{
    // The list's dates were read from clocks: the day and time they hold are shown as
    // they are, without a look at the time zone's rules for each.
    const auto [day, time] = qb::clockTimeOf(automationDate);
    auto known = m_days.constFind(day.toJulianDay());
    if (known == m_days.constEnd())
        known = m_days.insert(day.toJulianDay(), m_locale.toString(day, QLocale::ShortFormat));
    if (time == QTime(0, 0))
        return *known;
    return *known + QLatin1Char(' ') + m_locale.toString(time, m_timeFormat);
}

QString columnHeading(AttachColumn column)
{
    static const char *const headings[] = {"Subject", "Folder", "Size", "Filename",
                                           "Type",    "Date",   "From", "Attachment size"};
    return QString::fromLatin1(headings[int(column) - 1]);
}

QString cellText(const TAttach &record, AttachColumn column, const QLocale &locale)
{
    switch (column) {
    case AttachColumn::Size:
        return SizeText(record, locale);
    case AttachColumn::Date:
        return dateText(record.Date, locale);
    case AttachColumn::AttachmentSize:
        return sizeText(record.AttachmentSize, locale);
    default:
        return textKey(record, column);
    }
}
