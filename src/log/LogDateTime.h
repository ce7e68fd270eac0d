#pragma once

#include <QDateTime>
#include <QLocale>

// Formats a moment with a log pattern: "yyyy" year, "mm" month (minute right after
// an hour), "dd" day, "hh" hour of 24, "nn" minute, "ss" second, ":" the locale's
// time separator, "/" its date separator; any other character is copied.
QString formatLogDateTime(const QString &pattern, const QDateTime &moment,
                          const QLocale &locale = QLocale());

// The date and time texts of a log entry, with the patterns of the language file.
QString LogDateText(const QDateTime &moment);
QString LogTimeText(const QDateTime &moment);
