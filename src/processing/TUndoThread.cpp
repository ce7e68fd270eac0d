#include "TUndoThread.h"

#include "TEmailThread.h"
#include "common/Error.h"
#include "log/TLogManager.h"

TUndoThread::TUndoThread(StatusView *statusForm, HandOverHost *host,
                         mailstore::ApplicationFactory createApplication,
                         std::vector<undo::JobRecord> jobs, UndoJob::Options options,
                         const QString &logFile, int lockTimeoutSeconds)
    : HandOverWorker(host, statusForm), m_createApplication(std::move(createApplication)),
      m_jobs(std::move(jobs)), m_options(options), m_log(AcquireLog(logFile, true)),
      m_logged(!logFile.isEmpty()), m_lockTimeout(lockTimeoutSeconds)
{
    start();
}

TUndoThread::~TUndoThread() = default;

void TUndoThread::work()
{
    m_log->Log(llInfo, QStringLiteral("Undo started by [%1]").arg(TEmailThread::userName()));
    attachToStatusWindow();
    PostStatus(QStringLiteral("Connecting to mail store..."));
    const std::shared_ptr<mailstore::Application> application = m_createApplication();
    const std::shared_ptr<mailstore::Namespace> mapi =
        application->getNamespace(QStringLiteral("MAPI"));
    bool announced = false;
    mapi->lockForChanges([&](int waited) {
        if (!announced) {
            PostStatus(
                QStringLiteral("Waiting for another program to finish changing the mail store..."));
            announced = true;
        }
        return !cancelled() && waited < m_lockTimeout;
    });

    UndoJob job(m_options, *m_log,
                {[this](const QString &text) { PostStatus(text); },
                 [this](UndoJob::Kind kind, const QString &text) {
                     // Counted as it happens, so that an error later still finds it told.
                     if (kind == UndoJob::Kind::Done)
                         ++m_report.done;
                     else if (kind == UndoJob::Kind::Refused)
                         ++m_report.refused;
                     else
                         ++m_report.already;
                     Q_EMIT outcome(kind, text);
                 },
                 [this] { return cancelled(); }});
    m_report.cancelled = job.run(*mapi, m_jobs).cancelled;
}

void TUndoThread::endRun()
{
    const bool incomplete = m_report.cancelled || stoppedByError();
    QString text = QStringLiteral("%1. %2 email(s) put back")
                       .arg(incomplete ? QStringLiteral("INCOMPLETE") : QStringLiteral("Complete"))
                       .arg(m_report.done);
    if (m_report.already > 0)
        text += QStringLiteral(", %1 already as they were").arg(m_report.already);
    if (m_report.refused > 0)
        text += QStringLiteral(", %1 refused").arg(m_report.refused);
    if (stoppedByError()) {
        const QString stopped = QStringLiteral("Stopped by an error: %1").arg(failure());
        m_log->Log(llError, stopped);
        text += QStringLiteral("; ") + stopped;
    }
    PostStatus(text);
    m_log->Log(incomplete || m_report.refused > 0 ? llWarning : llInfo, text);
    m_log->Log(llInfo, QStringLiteral("End of job"));
    runStep([this] { endOfJob(); });
}

void TUndoThread::endOfJob()
{
    if (m_logged && !m_logReleased)
        ReleaseLog(m_log);
    m_logReleased = true;
    if (m_report.done > 0) {
        // The emails changed: the rows of an earlier analysis no longer match them.
        host()->clearAllData();
        host()->syncGridRows();
    }
    if (StatusForm)
        StatusForm->MarkFinished();
    Q_EMIT jobEnded(m_report);
}
