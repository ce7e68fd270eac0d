#include "TNullLog.h"

void TNullLog::WriteLine(TLogLevel, const QString &, const QString &, const QString &) {}

void TNullLog::Log(TLogLevel, const QString &) {}
