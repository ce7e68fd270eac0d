#pragma once

#include "TLogLevel.h"

#include <QString>

// A log that discards everything; the base of TLog. Held through the log manager,
// which counts its holders.
class TNullLog
{
public:
    TNullLog() = default;
    virtual ~TNullLog() = default;
    TNullLog(const TNullLog &) = delete;
    TNullLog &operator=(const TNullLog &) = delete;

    // One entry with the date and time already formatted.
    virtual void WriteLine(TLogLevel level, const QString &dateText, const QString &timeText,
                           const QString &message);
    // One entry stamped with the current local date and time.
    virtual void Log(TLogLevel level, const QString &message);

    QString FileName; // the manager's key; empty for a null log
    int RefCount = 1; // changed by the manager only, on the main thread
};
