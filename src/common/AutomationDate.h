#pragma once

#include <QDateTime>

namespace qb {

// Dates are kept as automation dates: days since 30 December 1899, local time,
// whose fraction is the time of day.
double toAutomationDate(const QDateTime &dateTime);
QDateTime fromAutomationDate(double days);

} // namespace qb
