#pragma once

#include "HandOverHost.h"
#include "StatusView.h"

#include <QPointer>
#include <QThread>

#include <exception>

// Base of the workers that report through a status window. Each step stores its
// argument in a pending field, runs its main-thread part through the host and
// returns when that part is done. The worker deletes itself when its run ends.
class HandOverWorker : public QThread
{
    Q_OBJECT
public:
    HandOverWorker(HandOverHost *host, StatusView *statusForm);

    // The text of the "Application Error" box for a failure.
    static QString applicationErrorText(const std::exception_ptr &error, const void *address);

protected:
    bool cancelled() const { return isInterruptionRequested(); }

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

    HandOverHost *host() const { return m_host; }

    // Read and written on the main thread only, inside steps.
    QPointer<StatusView> StatusForm;
    QString PendingText;
    int PendingProgress = 0;
    std::exception_ptr PendingError;

private:
    HandOverHost *m_host;
};
