#pragma once

#include <QObject>

class QThread;

// What the hand-over steps need of the status window of one run. Lives on the main
// thread; workers reach it only through HandOverWorker's steps. The desktop window,
// the command-line tool and tests each provide one.
class StatusView : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Takes the worker whose cancellation flag the Cancel button sets.
    virtual void AttachWorker(QThread *worker) = 0;
    virtual void showInFront() = 0;
    virtual void ShowStatus(const QString &text) = 0;
    virtual void ShowProgress(int percent) = 0;
    // The run has ended: the window offers OK and forgets its worker.
    virtual void MarkFinished() = 0;
    // Closes the window; it is freed once the main thread's pending events are done.
    virtual void closeWindow() = 0;
};
