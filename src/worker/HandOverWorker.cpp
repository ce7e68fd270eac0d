#include "HandOverWorker.h"

#include "common/Error.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <utility>

HandOverWorker::HandOverWorker(HandOverHost *host, StatusView *statusForm)
    : StatusForm(statusForm), m_host(host)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void HandOverWorker::run()
{
    try {
        work();
    } catch (...) {
        stop(std::current_exception());
    }
    try {
        endRun();
    } catch (...) {
        // Said once: the first failure is the one that matters.
        if (!m_stoppedByError)
            stop(std::current_exception());
    }
}

void HandOverWorker::stop(const std::exception_ptr &error)
{
    m_stoppedByError = true;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        m_failure = qb::messageOf(e);
    } catch (...) {
        m_failure = QStringLiteral("Unknown failure");
    }
    ReportError(error);
}

void HandOverWorker::runStep(const std::function<void()> &step)
{
    const QPointer<HandOverHost> host = m_host;
    if (!host)
        return;
    host->run([this, &step] {
        deliverPending();
        step();
    });
}

void HandOverWorker::attachToStatusWindow()
{
    runStep([this] {
        if (StatusForm) {
            StatusForm->AttachWorker(this);
            StatusForm->showInFront();
        }
    });
}

void HandOverWorker::PostStatus(const QString &text)
{
    {
        QMutexLocker lock(&m_pendingLock);
        PendingText = text;
        m_statusPending = true;
    }
    scheduleDelivery();
}

void HandOverWorker::PostProgress(int percent)
{
    {
        QMutexLocker lock(&m_pendingLock);
        PendingProgress = percent;
        m_progressPending = true;
    }
    scheduleDelivery();
}

void HandOverWorker::scheduleDelivery()
{
    const QPointer<HandOverHost> host = m_host;
    if (!host)
        return;
    int delay = 0;
    {
        QMutexLocker lock(&m_pendingLock);
        if (m_deliveryQueued)
            return;
        m_deliveryQueued = true;
        const qint64 since = m_lastDelivery.isValid() ? m_lastDelivery.elapsed() : statusInterval;
        delay = int(qMax<qint64>(0, statusInterval - since));
    }
    // Unlocked: a host may run it at once. The worker may be gone by the time it runs;
    // it is deleted on the main thread, where this runs.
    host->post(
        [worker = QPointer<HandOverWorker>(this)] {
            if (!worker)
                return;
            {
                QMutexLocker lock(&worker->m_pendingLock);
                worker->m_deliveryQueued = false;
            }
            worker->deliverPending();
        },
        delay);
}

void HandOverWorker::deliverPending()
{
    QString text;
    int percent = 0;
    bool status = false;
    bool progress = false;
    {
        QMutexLocker lock(&m_pendingLock);
        if (!m_statusPending && !m_progressPending)
            return;
        std::swap(status, m_statusPending);
        std::swap(progress, m_progressPending);
        text = PendingText;
        percent = PendingProgress;
        m_lastDelivery.start();
    }
    if (!StatusForm)
        return;
    if (status)
        StatusForm->ShowStatus(text);
    if (progress && StatusForm)
        StatusForm->ShowProgress(percent);
}

void HandOverWorker::PostWarning(const QString &text)
{
    runStep([this, &text] { m_host->showWarning(text); });
}

void HandOverWorker::PostResultAndClose(const QString &text)
{
    runStep([this, &text] {
        if (StatusForm)
            StatusForm->closeWindow();
        StatusForm = nullptr;
        m_host->setStatusBarText(text);
    });
}

void HandOverWorker::finishStatusWindow()
{
    runStep([this] {
        if (StatusForm)
            StatusForm->MarkFinished();
    });
}

QString HandOverWorker::applicationErrorText(const std::exception_ptr &error, const void *address)
{
    QString className = QStringLiteral("Exception");
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const qb::Error &e) {
        className = QString::fromLatin1(e.className());
        message = e.message();
    } catch (const std::exception &e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown failure");
    }
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString where =
        QStringLiteral("%1").arg(quintptr(address), int(sizeof(void *) * 2), 16, QLatin1Char('0'));
    const QString period = message.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".");
    return QStringLiteral("Exception %1 in module %2 at %3.\n%4%5")
        .arg(className, module, where.toUpper(), message, period);
}

void HandOverWorker::ReportError(const std::exception_ptr &error)
{
    PendingError = error;
    bool silent = false;
    try {
        std::rethrow_exception(error);
    } catch (const qb::AbortError &) {
        silent = true;
    } catch (const qb::LoginRefused &refused) {
        // No failure of the program: the status window ends saying so, and the user is told
        // and may give the password again.
        const QString text = refused.message();
        const QString account = refused.accountKey();
        try {
            PostStatus(text);
            finishStatusWindow();
            runStep([this, text, account] { m_host->showLoginRefused(text, account); });
        } catch (...) {
        }
        silent = true;
    } catch (...) {
    }
    if (!silent) {
        const void *address = __builtin_return_address(0);
        try {
            // The main-thread part takes the error from the pending field, as every step does.
            runStep([this, address] {
                m_host->showApplicationError(applicationErrorText(PendingError, address));
            });
        } catch (...) {
            // Nothing more can be reported; the run ends either way.
        }
    }
    PendingError = nullptr;
}
