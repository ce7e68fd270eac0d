#include "StoreConfig.h"

#include "maildir/MaildirStore.h"
#include "maildir/SummaryCache.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"

#include <QDir>

namespace mailstore {

QString defaultMaildir()
{
    const QString fromEnvironment = qEnvironmentVariable("MAILDIR");
    return fromEnvironment.isEmpty() ? QDir::homePath() + QStringLiteral("/Maildir")
                                     : fromEnvironment;
}

QStringList registeredMaildirs()
{
    const QString storesKey = TSettings::valueName(0) + QStringLiteral("\\Mail stores");
    TRegistry registry;
    if (!registry.OpenKey(storesKey, false))
        return {};
    QStringList maildirs;
    for (const QString &store : registry.subKeys()) {
        TRegistry entry;
        if (!entry.OpenKey(storesKey + QLatin1Char('\\') + store, false))
            continue;
        const QString type = readStringOr(entry, QStringLiteral("Type"), QString());
        const QString path = readStringOr(entry, QStringLiteral("Path"), QString());
        if (type.compare(QLatin1String("maildir"), Qt::CaseInsensitive) == 0 && !path.isEmpty())
            maildirs << path;
    }
    return maildirs;
}

ApplicationFactory configuredStores(const QStringList &maildirs, SummaryCaching caching)
{
    QStringList roots = maildirs;
    if (roots.isEmpty())
        roots = registeredMaildirs();
    if (roots.isEmpty())
        roots << defaultMaildir();
    return maildir::storeFactory(
        roots, caching == SummaryCaching::Kept ? maildir::SummaryCache::defaultPath() : QString());
}

} // namespace mailstore
