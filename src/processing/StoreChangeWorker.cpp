#include "StoreChangeWorker.h"

#include "log/TLogManager.h"

StoreChangeWorker::StoreChangeWorker(StatusView *statusForm, HandOverHost *host,
                                     mailstore::ApplicationFactory createApplication,
                                     const QString &logFile, int lockTimeoutSeconds)
    : HandOverWorker(host, statusForm), m_createApplication(std::move(createApplication)),
      m_log(AcquireLog(logFile, true)), m_logged(!logFile.isEmpty()),
      m_lockTimeout(lockTimeoutSeconds)
{
}

StoreChangeWorker::~StoreChangeWorker() = default;

StoreChangeWorker::OpenStores StoreChangeWorker::openLockedStores()
{
    attachToStatusWindow();
    PostStatus(QStringLiteral("Connecting to mail store..."));
    OpenStores open;
    open.application = m_createApplication();
    open.stores = open.application->getNamespace(QStringLiteral("MAPI"));
    bool announced = false;
    open.stores->lockForChanges([&](int waited) {
        if (!announced) {
            PostStatus(
                QStringLiteral("Waiting for another program to finish changing the mail store..."));
            announced = true;
        }
        return !cancelled() && waited < m_lockTimeout;
    });
    return open;
}

void StoreChangeWorker::finishRun(QString text, bool warning, bool emailsChanged)
{
    if (stoppedByError()) {
        const QString stopped = QStringLiteral("Stopped by an error: %1").arg(failure());
        m_log->Log(llError, stopped);
        text += QStringLiteral("; ") + stopped;
    }
    PostStatus(text);
    m_log->Log(warning || stoppedByError() ? llWarning : llInfo, text);
    m_log->Log(llInfo, QStringLiteral("End of job"));
    runStep([this, emailsChanged] {
        if (m_logged && !m_logReleased)
            ReleaseLog(m_log);
        m_logReleased = true;
        if (emailsChanged) {
            // The rows of an earlier analysis no longer match the emails.
            host()->clearAllData();
            host()->syncGridRows();
        }
        if (StatusForm)
            StatusForm->MarkFinished();
        ended();
    });
}
