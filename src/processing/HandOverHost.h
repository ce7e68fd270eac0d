#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The main-thread side of the hand-over steps: the one seam between workers and
// windows. run() executes a step on the host's thread while the calling worker
// waits; the other operations are what the steps do there to the main window.
class HandOverHost : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Runs step on the host's thread and returns when it is done. An exception
    // thrown by the step is rethrown to the caller. A host whose windows may be used
    // from any thread can run steps in place instead.
    virtual void run(const std::function<void()> &step);

    virtual void setStatusBarText(const QString &text) = 0;
    virtual void syncGridRows() = 0;
    virtual void clearAllData() = 0;
    // A modal warning with one OK button; returns when the user has closed it.
    virtual void showWarning(const QString &text) = 0;
    // The "Application Error" box for a failure that ended a run.
    virtual void showApplicationError(const QString &text) = 0;
    // An error box titled "Error" with one OK button, for a failure the run survives.
    virtual void showErrorMessage(const QString &text) = 0;
};
