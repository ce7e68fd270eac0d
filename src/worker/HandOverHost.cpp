#include "HandOverHost.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

#include <exception>

void HandOverHost::run(const std::function<void()> &step)
{
    std::exception_ptr failure;
    auto guarded = [&] {
        try {
            step();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    // A blocking queued call into the caller's own thread would deadlock.
    if (QThread::currentThread() == thread())
        guarded();
    else
        QMetaObject::invokeMethod(this, guarded, Qt::BlockingQueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

void HandOverHost::post(std::function<void()> step, int delayMs)
{
    // Nothing may escape into the event loop: a step that fails only loses its report.
    auto guarded = [step = std::move(step)] {
        try {
            step();
        } catch (...) {
        }
    };
    QMetaObject::invokeMethod(
        this,
        [this, guarded = std::move(guarded), delayMs]() mutable {
            if (delayMs > 0)
                QTimer::singleShot(delayMs, this, std::move(guarded));
            else
                guarded();
        },
        Qt::QueuedConnection);
}

std::function<void(const QString &)> errorBoxesOf(HandOverHost *host)
{
    return [guarded = QPointer<HandOverHost>(host)](const QString &text) {
        if (!guarded)
            return;
        guarded->run([&] {
            if (guarded)
                guarded->showErrorMessage(text);
        });
    };
}

void HandOverHost::showLoginRefused(const QString &text, const QString &)
{
    showErrorMessage(text);
}
