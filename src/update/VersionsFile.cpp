#include "VersionsFile.h"

#include <QRegularExpression>

#include <cmath>

namespace update {

namespace {
constexpr qsizetype maxValueLength = 255;
} // namespace

std::optional<QString> productValue(const QString &versionsFile, const QString &product)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = versionsFile.split(lineBreak);
    for (const QString &line : lines) {
        const qsizetype comma = line.indexOf(QLatin1Char(','));
        if (comma >= 0 && QStringView(line).left(comma) == product)
            return line.mid(comma + 1, maxValueLength);
    }
    return std::nullopt;
}

std::optional<double> readStamp(const QString &value)
{
    static const QRegularExpression number(
        QStringLiteral("\\A *[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[Ee][+-]?[0-9]+)?\\z"));
    const qsizetype comma = value.indexOf(QLatin1Char(','));
    const QString text = comma < 0 ? value : value.left(comma);
    if (!number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double stamp = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(stamp))
        return std::nullopt;
    return stamp;
}

VersionCheck checkVersions(const QString &versionsFile, const QString &product, double releaseStamp)
{
    VersionCheck check;
    const std::optional<QString> value = productValue(versionsFile, product);
    if (!value)
        return check;
    check.value = *value;
    const std::optional<double> stamp = readStamp(*value);
    if (!stamp) {
        check.result = VersionCheck::Result::InvalidStamp;
        return check;
    }
    check.stamp = *stamp;
    check.result =
        *stamp > releaseStamp ? VersionCheck::Result::Newer : VersionCheck::Result::Current;
    return check;
}

} // namespace update
