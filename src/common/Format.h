#pragma once

#include <QLocale>
#include <QString>

#include <initializer_list>
#include <variant>

namespace qb {

using FormatValue = std::variant<QString, qint64, double>;

// Fills a pattern that may come from the language file, where a translator can
// change every character: "%s" takes a text, "%d" a whole number, "%x" a whole
// number in hexadecimal, "%.0n" a number rounded to whole units with the locale's
// thousands separator, and "%%" is one "%". A placeholder that does not fit its
// value, a placeholder without a value and any other "%" form throw qb::Error
// naming the pattern; values left over are ignored.
QString format(const QString &pattern, std::initializer_list<FormatValue> values,
               const QLocale &locale = QLocale());

} // namespace qb
