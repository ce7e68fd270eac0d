#include "Format.h"

#include "Error.h"

#include <cmath>

namespace qb {

namespace {

[[noreturn]] void misfit(const QString &pattern, const QString &why)
{
    throw Error(QStringLiteral("The text \"%1\" cannot be filled in: %2").arg(pattern, why));
}

const char *kindOf(const FormatValue &value)
{
    if (std::holds_alternative<QString>(value))
        return "a text";
    if (std::holds_alternative<qint64>(value))
        return "a whole number";
    return "a number";
}

} // namespace

QString format(const QString &pattern, std::initializer_list<FormatValue> values,
               const QLocale &locale)
{
    QString out;
    out.reserve(pattern.size() + 32);
    auto next = values.begin();
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c != QLatin1Char('%')) {
            out += c;
            continue;
        }
        const QStringView rest = QStringView(pattern).mid(i + 1);
        if (rest.startsWith(QLatin1Char('%'))) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        char kind = 0;
        if (rest.startsWith(QLatin1String(".0n"))) {
            kind = 'n';
            i += 3;
        } else if (!rest.isEmpty() && QStringView(u"sdx").contains(rest.front())) {
            kind = char(rest.front().unicode());
            i += 1;
        } else {
            misfit(pattern, QStringLiteral("only %s, %d, %x, %.0n and %% may follow a \"%\""));
        }
        if (next == values.end())
            misfit(pattern, QStringLiteral("it has more placeholders than values"));
        const FormatValue &value = *next++;
        const auto wrongKind = [&](const char *wanted) {
            misfit(pattern, QStringLiteral("%%%1 needs %2 but is given %3")
                                .arg(QLatin1Char(kind == 'n' ? 'n' : kind))
                                .arg(QLatin1String(wanted), QLatin1String(kindOf(value))));
        };
        switch (kind) {
        case 's':
            if (!std::holds_alternative<QString>(value))
                wrongKind("a text");
            out += std::get<QString>(value);
            break;
        case 'd':
            if (!std::holds_alternative<qint64>(value))
                wrongKind("a whole number");
            out += QString::number(std::get<qint64>(value));
            break;
        case 'x':
            if (!std::holds_alternative<qint64>(value))
                wrongKind("a whole number");
            out += QString::number(std::get<qint64>(value), 16).toUpper();
            break;
        default: {
            if (std::holds_alternative<QString>(value))
                wrongKind("a number");
            const double number = std::holds_alternative<double>(value)
                                      ? std::get<double>(value)
                                      : double(std::get<qint64>(value));
            QLocale grouped = locale;
            grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
            out += grouped.toString(std::round(number), 'f', 0);
            break;
        }
        }
    }
    return out;
}

} // namespace qb
