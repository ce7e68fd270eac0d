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

QDateTime fromAutomationDate(double days)
{
    const double whole = std::floor(days);
    const auto msecs = qint64(std::llround((days - whole) * msecsPerDay));
    const QDate date = epoch.addDays(qint64(whole));
    return QDateTime(date, QTime(0, 0)).addMSecs(msecs);
}

} // namespace qb
