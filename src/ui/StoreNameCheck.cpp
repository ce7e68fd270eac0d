#include "StoreNameCheck.h"

#include "settings/MailStoreEntries.h"

QString storeNameProblem(const QString &name, const QStringList &takenNames)
{
    if (!isValidStoreName(name))
        return QStringLiteral("A mail store needs a name that is not blank, has no \"\\\" and "
                              "is at most 255 characters long.");
    for (const QString &taken : takenNames) {
        if (taken.compare(name, Qt::CaseInsensitive) == 0)
            return QStringLiteral("There is a mail store named \"%1\" already.").arg(taken);
    }
    return {};
}
