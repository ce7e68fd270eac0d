#include "LogDateTime.h"

#include "lang/TStringLoader.h"

namespace {

// The first character of a format that is not a letter of the format, or fallback.
QChar separatorIn(const QString &format, QChar fallback)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return c;
    }
    return fallback;
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

QString formatLogDateTime(const QString &pattern, const QDateTime &moment, const QLocale &locale)
{
    const QChar timeSeparator =
        separatorIn(locale.timeFormat(QLocale::ShortFormat), QLatin1Char(':'));
    const QChar dateSeparator =
        separatorIn(locale.dateFormat(QLocale::ShortFormat), QLatin1Char('/'));
    const QDate date = moment.date();
    const QTime time = moment.time();
    QString out;
    bool afterHour = false;
    for (qsizetype i = 0; i < pattern.size();) {
        const QStringView rest = QStringView(pattern).mid(i);
        const auto starts = [&](const char *token) {
            return rest.startsWith(QLatin1String(token), Qt::CaseInsensitive);
        };
        if (starts("yyyy")) {
            out += QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
            afterHour = false;
            i += 4;
        } else if (starts("mm")) {
            out += twoDigits(afterHour ? time.minute() : date.month());
            afterHour = false;
            i += 2;
        } else if (starts("dd")) {
            out += twoDigits(date.day());
            afterHour = false;
            i += 2;
        } else if (starts("hh")) {
            out += twoDigits(time.hour());
            afterHour = true;
            i += 2;
        } else if (starts("nn")) {
            out += twoDigits(time.minute());
            afterHour = false;
            i += 2;
        } else if (starts("ss")) {
            out += twoDigits(time.second());
            afterHour = false;
            i += 2;
        } else {
            const QChar c = pattern.at(i++);
            out += c == QLatin1Char(':')   ? timeSeparator
                   : c == QLatin1Char('/') ? dateSeparator
                                           : c;
        }
    }
    return out;
}

QString LogDateText(const QDateTime &moment)
{
    return formatLogDateTime(LoadLangString(1010, QStringLiteral("yyyy-mm-dd")), moment);
}

QString LogTimeText(const QDateTime &moment)
{
    return formatLogDateTime(LoadLangString(1000, QStringLiteral("hh:nn:ss")), moment);
}
