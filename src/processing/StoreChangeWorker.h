#pragma once

#include "mailstore/MailStore.h"
#include "worker/HandOverWorker.h"

#include <memory>

class TNullLog;

// What the workers that change emails outside a delete/detach/save job (putting a job's
// emails back, relinking notes) share: the stores opened on the worker and locked
// against other programs, the action log, and one way to end, in the status window and
// the log, that clears the grid when emails changed. A subclass starts the thread from
// its own constructor, once its members are set.
class StoreChangeWorker : public HandOverWorker
{
    Q_OBJECT
protected:
    // logFile: the action log to write to; empty for none.
    StoreChangeWorker(StatusView *statusForm, HandOverHost *host,
                      mailstore::ApplicationFactory createApplication, const QString &logFile,
                      int lockTimeoutSeconds);
    ~StoreChangeWorker() override;

    TNullLog &log() { return *m_log; }
    // The stores, opened on the worker thread, where they must also go.
    struct OpenStores
    {
        std::shared_ptr<mailstore::Application> application;
        std::shared_ptr<mailstore::Namespace> stores;
    };
    // Opens the stores and waits for their lock, saying so in the status window; cancelling
    // while waiting ends the wait with an error.
    OpenStores openLockedStores();
    // Ends the run: text (with the error that stopped it, when one did) in the status window
    // and the log; then, on the main thread, the log released, the grid cleared when emails
    // changed, the status window finished, and ended() called.
    void finishRun(QString text, bool warning, bool emailsChanged);
    // Called on the main thread once the run is over, to tell its report.
    virtual void ended() = 0;

private:
    mailstore::ApplicationFactory m_createApplication;
    TNullLog *m_log;
    const bool m_logged;
    const int m_lockTimeout;
    bool m_logReleased = false;
};
