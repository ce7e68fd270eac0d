#include "AutomationDate.h"

#include <cmath>

namespace qb {

namespace {
const QDate epoch(1899, 12, 30);
constexpr double msecsPerDay = 86400000.0;
} // namespace

double toAutomationDate(const QDateTime &dateTime)
{
    const QDateTime local = dateTime.toLocalTime();
    const qint64 days = epoch.daysTo(local.date());
    return double(days) + local.time().msecsSinceStartOfDay() / msecsPerDay;
}

ClockTime clockTimeOf(double days)
{
    double whole = std::floor(days);
    auto msecs = qint64(std::llround((days - whole) * msecsPerDay));
    if (msecs >= qint64(msecsPerDay)) { // rounded up to the next midnight
        whole += 1;
        msecs = 0;
    }
    return {epoch.addDays(qint64(whole)), QTime::fromMSecsSinceStartOfDay(int(msecs))};
}

QDateTime fromAutomationDate(double days)
{
    const ClockTime clock = clockTimeOf(days);
    // The fraction is the time on the clock, as toAutomationDate takes it, not the time
    // gone since midnight: the two differ on the days the clocks change.
    const QDateTime onTheClock(clock.date, clock.time);
    if (onTheClock.isValid())
        return onTheClock;
    // A time the clocks skipped: the time gone since midnight is the nearest there is.
    return QDateTime(clock.date, QTime(0, 0)).addMSecs(clock.time.msecsSinceStartOfDay());
}

} // namespace qb
