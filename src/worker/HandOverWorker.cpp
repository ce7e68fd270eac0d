#include "HandOverWorker.h"

#include "common/Error.h"

#include <QCoreApplication>
#include <QFileInfo>

HandOverWorker::HandOverWorker(HandOverHost *host, StatusView *statusForm)
    : StatusForm(statusForm), m_host(host)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void HandOverWorker::attachToStatusWindow()
{
    m_host->run([this] {
        if (StatusForm) {
            StatusForm->AttachWorker(this);
            StatusForm->showInFront();
        }
    });
}

void HandOverWorker::PostStatus(const QString &text)
{
    PendingText = text;
    m_host->run([this] {
        if (StatusForm)
            StatusForm->ShowStatus(PendingText);
    });
}

void HandOverWorker::PostProgress(int percent)
{
    PendingProgress = percent;
    m_host->run([this] {
        if (StatusForm)
            StatusForm->ShowProgress(PendingProgress);
    });
}

void HandOverWorker::PostWarning(const QString &text)
{
    PendingText = text;
    m_host->run([this] { m_host->showWarning(PendingText); });
}

void HandOverWorker::PostResultAndClose(const QString &text)
{
    PendingText = text;
    m_host->run([this] {
        if (StatusForm)
            StatusForm->closeWindow();
        StatusForm = nullptr;
        m_host->setStatusBarText(PendingText);
    });
}

void HandOverWorker::finishStatusWindow()
{
    m_host->run([this] {
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
    } catch (...) {
    }
    if (!silent) {
        const void *address = __builtin_return_address(0);
        try {
            // The main-thread part takes the error from the pending field, as every step does.
            m_host->run([this, address] {
                m_host->showApplicationError(applicationErrorText(PendingError, address));
            });
        } catch (...) {
            // Nothing more can be reported; the run ends either way.
        }
    }
    PendingError = nullptr;
}
