#include "TimeZoneFile.h"

#include <QByteArray>
#include <QtGlobal>

namespace qb {

void readTimeZoneFileOnce()
{
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
}

} // namespace qb
