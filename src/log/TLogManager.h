#pragma once

#include "TNullLog.h"

#include <QMutex>
#include <QPointer>

#include <memory>
#include <vector>

class HandOverHost;

// Hands out log objects keyed by normalised file name and counts their holders, so
// that jobs naming one file share one open file, closed when the last lets go.
// One per process, made on first use.
class TLogManager
{
public:
    static TLogManager &instance();

    TNullLog *Acquire(const QString &logName, bool append);
    void Release(TNullLog *log);

    // The key of a log name: empty stays empty, a bare name goes to the writable
    // program folder, anything else becomes an absolute path.
    static QString normalise(const QString &logName);

    // Where failure messages go: an error box through the host, or stderr without one.
    static void setMessageHost(HandOverHost *host);
    static void showFailure(const QString &text);

private:
    TLogManager() = default;

    QMutex m_lock;
    std::vector<std::unique_ptr<TNullLog>> Logs;
};

TNullLog *AcquireLog(const QString &logName, bool append);
void ReleaseLog(TNullLog *log);
