#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The worker layer: the one seam between workers and what shows their work.
//
// A host is the main-thread side of the hand-over steps. run() executes a step on
// the host's thread (the program's main thread, in the desktop program, the
// command-line tool and the tests alike) while the calling worker waits; post()
// queues one there without waiting, for the status and progress that a worker
// only reports; the other operations are what the steps do there. So a step, and
// everything it calls (EndOfJob, ReleaseLog, a job's jobEnded signal), always runs
// on the main thread, which must run an event loop while a worker may hand over.
class HandOverHost : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Runs step on the host's thread and returns when it is done; called on that
    // thread, runs it at once. An exception thrown by the step is rethrown to the
    // caller. A host may skip steps (a program that is closing), never move them.
    virtual void run(const std::function<void()> &step);
    // Queues step for the host's thread, to run once delayMs have passed, and returns
    // at once; a step still queued when the host goes is dropped. A host that must see
    // every step as it happens (a test that cancels at a given one) may run it at once
    // and wait instead, as run() does.
    virtual void post(std::function<void()> step, int delayMs = 0);

    virtual void setStatusBarText(const QString &text) = 0;
    virtual void syncGridRows() = 0;
    virtual void clearAllData() = 0;
    // A modal warning with one OK button; returns when the user has closed it.
    virtual void showWarning(const QString &text) = 0;
    // The "Application Error" box for a failure that ended a run.
    virtual void showApplicationError(const QString &text) = 0;
    // An error box titled "Error" with one OK button, for a failure the run survives.
    virtual void showErrorMessage(const QString &text) = 0;
    // A mail server refused the login to the account of that password key: the run ends,
    // and the user may give the password again. By default an "Error" box.
    virtual void showLoginRefused(const QString &text, const QString &accountKey);
};

// Shows each text in host's "Error" box, on the host's thread, while the caller
// waits; texts for a host that has gone are dropped. For the log manager's failures.
std::function<void(const QString &)> errorBoxesOf(HandOverHost *host);
