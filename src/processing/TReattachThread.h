#pragma once

#include "DetachLog.h"
#include "ReattachJob.h"
#include "mailstore/MailStore.h"
#include "worker/HandOverWorker.h"

#include <vector>

class TNullLog;

// Runs a ReattachJob on a worker thread of its own, reporting through a status
// window with Cancel as the delete/detach/save job does; the action log that was read
// gets the entries of what it did. Starts at once and deletes itself when its run ends.
class TReattachThread final : public HandOverWorker
{
    Q_OBJECT
public:
    TReattachThread(StatusView *statusForm, HandOverHost *host,
                    mailstore::ApplicationFactory createApplication,
                    std::vector<DetachRecord> records, ReattachJob::Options options,
                    const QString &logFile, int lockTimeoutSeconds);
    ~TReattachThread() override;

Q_SIGNALS:
    // What happened to one attachment, as it happens (queued to the receiver's thread).
    void outcome(ReattachJob::Kind kind, const QString &text);
    // Emitted on the main thread by the end step.
    void jobEnded(ReattachJob::Report report);

protected:
    void work() override;
    void endRun() override;

private:
    void endOfJob();

    mailstore::ApplicationFactory m_createApplication;
    std::vector<DetachRecord> m_records;
    ReattachJob::Options m_options;
    TNullLog *m_log;
    const int m_lockTimeout;
    bool m_logReleased = false;
    ReattachJob::Report m_report;
};
