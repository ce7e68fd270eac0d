#include "UpdateDate.h"

#include "Url.h"
#include "common/AutomationDate.h"
#include "common/Error.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"

#include <cmath>
#include <limits>

namespace update {

namespace {

QString withoutEndSlashes(QString text)
{
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

} // namespace

const QString UpdateSettings::defaultWebSite = QStringLiteral("https://www.vellmor.com");

UpdateSettings UpdateSettings::read()
{
    UpdateSettings settings;
    TRegistry registry(TRegistry::Root::LocalMachine);
    if (!registry.OpenKey(TSettings::valueName(0), false))
        return settings;
    settings.updateDate = readIntegerOr(registry, QStringLiteral("updateDate"), 0);
    const QString site = readStringOr(registry, QStringLiteral("Web site"), QString()).trimmed();
    if (!site.isEmpty())
        settings.webSite = site;
    registry.CloseKey();
    return settings;
}

bool UpdateSettings::writeDate(double updateDate, const QString &rootDir)
{
    // A day number past what a REG_DWORD holds is kept at its end, never wrapped round.
    constexpr double lowest = std::numeric_limits<qint32>::min();
    constexpr double highest = std::numeric_limits<qint32>::max();
    const double day = std::isfinite(updateDate) ? std::round(updateDate) : 0;
    try {
        TRegistry registry(TRegistry::Root::LocalMachine);
        registry.beginBatch();
        if (!registry.OpenKey(TSettings::valueName(0), true))
            return false;
        registry.WriteInteger(QStringLiteral("updateDate"),
                              qint32(std::clamp(day, lowest, highest)));
        registry.WriteString(QStringLiteral("rootDir"), rootDir);
        registry.commit();
        return true;
    } catch (const qb::Error &) {
        return false;
    }
}

double dayNumber(const QDate &day)
{
    return qb::toAutomationDate(QDateTime(day, QTime(0, 0)));
}

bool checkDue(double updateDate, const QDate &today)
{
    return dayNumber(today) >= updateDate;
}

double dateAfterReply(const QDate &today)
{
    return dayNumber(today.addDays(3));
}

QDate firstPickerDay(double updateDate, const QDate &today)
{
    if (updateDate == 0)
        return today.addDays(30);
    return qb::fromAutomationDate(updateDate).date();
}

QString versionsFileUrl(const QString &webSite, const QString &product, const QString &version)
{
    return withoutEndSlashes(webSite) + QStringLiteral("/versions.txt?application=") +
           urlEncode(product) + QStringLiteral("&ver=") + urlEncode(version);
}

QString homePageUrl(const QString &webSite)
{
    return withoutEndSlashes(webSite) + QLatin1Char('/');
}

} // namespace update
