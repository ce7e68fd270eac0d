#pragma once

#include <QDateTime>

namespace qb {

// Dates are kept as automation dates: days since 30 December 1899, local time,
// whose fraction is the time of day.
double toAutomationDate(const QDateTime &dateTime);
QDateTime fromAutomationDate(double days);

// The day and the time on the clock an automation date holds, read without the time
// zone's rules (nor the lock Qt takes for them): what fromAutomationDate gives, but for
// a time the clocks skipped, which no time read from a clock is.
struct ClockTime
{
    QDate date;
    QTime time;
};
ClockTime clockTimeOf(double days);

} // namespace qb
