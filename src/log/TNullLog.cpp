#include "TNullLog.h"

void TNullLog::WriteLine(TLogLevel, const QString &, const QString &, const QString &,
                         const LogDocument &)
{
}

void TNullLog::Log(TLogLevel, const QString &, const LogDocument &) {}
