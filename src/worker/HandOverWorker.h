#pragma once

#include "HandOverHost.h"
#include "StatusView.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QThread>

#include <exception>

// Base of the workers that report through a status window. The worker deletes
// itself when its run ends.
//
// Status and progress are reports: each stores its value as pending and returns at
// once, and the host shows the latest pending values at most every statusInterval
// milliseconds, so a worker never waits for a window to repaint. Every other step
// stores its argument, runs its main-thread part through the host and returns when
// that part is done; it first shows what is still pending, so that the window
// always shows the last status before a warning, an error, its result or its end.
//
// Every run has one edge: the worker's work(), then its endRun(), which runs also
// when an error escaped work(); that error is first reported (ReportError) and its
// message kept, so that the end can say what failed instead of passing for a cancel.
class HandOverWorker : public QThread
{
    Q_OBJECT
public:
    HandOverWorker(HandOverHost *host, StatusView *statusForm);

    // The shortest time between two showings of status and progress.
    static constexpr int statusInterval = 50;

    // The text of the "Application Error" box for a failure.
    static QString applicationErrorText(const std::exception_ptr &error, const void *address);

    // The message of the error that stopped the run early; empty when none did. Read
    // on the worker's thread or in its end step.
    const QString &failure() const { return m_failure; }

protected:
    void run() final;
    // What the worker does; an error that escapes it ends it.
    virtual void work() = 0;
    // The end of every run, after work() whether or not it failed: the end lines and
    // the end step. An error that escapes it is reported too.
    virtual void endRun() = 0;

    bool cancelled() const { return isInterruptionRequested(); }
    bool stoppedByError() const { return m_stoppedByError; }

    // AttachWorker with this thread, then show the window in front.
    void attachToStatusWindow();
    void PostStatus(const QString &text);
    void PostProgress(int percent);
    void PostWarning(const QString &text);
    // Closes the status window, forgets it and puts text into the status bar.
    void PostResultAndClose(const QString &text);
    // MarkFinished on the status window, when the worker still has one.
    void finishStatusWindow();
    // From a run's error handler: shows the error unless it is a silent abort.
    void ReportError(const std::exception_ptr &error);
    // Runs a step of the worker's own on the main thread and waits for it, after
    // showing the pending status and progress. Skipped when the host has gone.
    void runStep(const std::function<void()> &step);

    HandOverHost *host() const { return m_host; }

    // Read and written on the main thread only, inside steps.
    QPointer<StatusView> StatusForm;
    std::exception_ptr PendingError;

private:
    // Queues a showing of the pending values unless one is queued.
    void scheduleDelivery();
    // On the main thread: shows and clears what is pending.
    void deliverPending();

    // Reports the error being handled and keeps its message.
    void stop(const std::exception_ptr &error);

    QPointer<HandOverHost> m_host;
    bool m_stoppedByError = false;
    QString m_failure;

    // Written by the worker, taken by the main thread.
    QMutex m_pendingLock;
    QString PendingText;
    int PendingProgress = 0;
    bool m_statusPending = false;
    bool m_progressPending = false;
    bool m_deliveryQueued = false;
    QElapsedTimer m_lastDelivery;
};
