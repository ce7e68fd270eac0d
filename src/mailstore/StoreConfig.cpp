#include "StoreConfig.h"

#include "maildir/MaildirStore.h"

#include <QDir>

namespace mailstore {

QString defaultMaildir()
{
    const QString fromEnvironment = qEnvironmentVariable("MAILDIR");
    return fromEnvironment.isEmpty() ? QDir::homePath() + QStringLiteral("/Maildir")
                                     : fromEnvironment;
}

ApplicationFactory configuredStores(const QStringList &maildirs)
{
    return maildir::storeFactory(maildirs.isEmpty() ? QStringList{defaultMaildir()} : maildirs);
}

} // namespace mailstore
