#pragma once

#include "StoreChangeWorker.h"
#include "UndoJob.h"
#include "UndoRecord.h"

#include <vector>

// Runs an UndoJob on a worker thread of its own, reporting through a status window with
// Cancel as the delete/detach/save job does. Starts at once and deletes itself when its
// run ends.
class TUndoThread final : public StoreChangeWorker
{
    Q_OBJECT
public:
    // logFile: the action log to write to; empty for none.
    TUndoThread(StatusView *statusForm, HandOverHost *host,
                mailstore::ApplicationFactory createApplication, std::vector<undo::JobRecord> jobs,
                UndoJob::Options options, const QString &logFile, int lockTimeoutSeconds);
    ~TUndoThread() override;

Q_SIGNALS:
    // What happened to one email, as it happens (queued to the receiver's thread).
    void outcome(UndoJob::Kind kind, const QString &text);
    // Emitted on the main thread by the end step.
    void jobEnded(UndoJob::Report report);

protected:
    void work() override;
    void endRun() override;

    void ended() override;

private:
    std::vector<undo::JobRecord> m_jobs;
    UndoJob::Options m_options;
    UndoJob::Report m_report;
};
