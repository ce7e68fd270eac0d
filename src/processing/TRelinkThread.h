#pragma once

#include "DetachLog.h"
#include "RelinkJob.h"
#include "StoreChangeWorker.h"

#include <vector>

// Runs a RelinkJob on a worker thread of its own, reporting through a status window
// with Cancel as the delete/detach/save job does; the action log that was read gets
// the entries of what it did. Starts at once and deletes itself when its run ends.
class TRelinkThread final : public StoreChangeWorker
{
    Q_OBJECT
public:
    TRelinkThread(StatusView *statusForm, HandOverHost *host,
                  mailstore::ApplicationFactory createApplication,
                  std::vector<DetachRecord> records, QString from, QString to,
                  const QString &logFile, int lockTimeoutSeconds);
    ~TRelinkThread() override;

Q_SIGNALS:
    // What happened to one note, as it happens (queued to the receiver's thread).
    void outcome(RelinkJob::Kind kind, const QString &text);
    // Emitted on the main thread by the end step.
    void jobEnded(RelinkJob::Report report);

protected:
    void work() override;
    void endRun() override;

    void ended() override;

private:
    std::vector<DetachRecord> m_records;
    const QString m_from;
    const QString m_to;
    RelinkJob::Report m_report;
};
