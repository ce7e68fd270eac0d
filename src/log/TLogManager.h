#pragma once

// The log layer: the comma-separated action log, its writers and their
// process-wide manager. Links the common and lang layers; failures it cannot
// write go to a message sink that the program sets.

#include "TNullLog.h"

#include <QMutex>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

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

    // Where failure messages go: to sink (the program's error box), or to stderr
    // without one. The sink is called on the thread that failed.
    using MessageSink = std::function<void(const QString &)>;
    static void setMessageSink(MessageSink sink);
    static void showFailure(const QString &text);

private:
    TLogManager() = default;

    QMutex m_lock;
    std::vector<std::unique_ptr<TNullLog>> Logs;
    QMutex m_sinkLock;
    MessageSink m_sink;
};

TNullLog *AcquireLog(const QString &logName, bool append);
void ReleaseLog(TNullLog *log);
