#include "TUndoThread.h"

#include "TEmailThread.h"
#include "common/Error.h"
#include "log/TNullLog.h"

TUndoThread::TUndoThread(StatusView *statusForm, HandOverHost *host,
                         mailstore::ApplicationFactory createApplication,
                         std::vector<undo::JobRecord> jobs, UndoJob::Options options,
                         const QString &logFile, int lockTimeoutSeconds)
    : StoreChangeWorker(statusForm, host, std::move(createApplication), logFile,
                        lockTimeoutSeconds),
      m_jobs(std::move(jobs)), m_options(options)
{
    start();
}

TUndoThread::~TUndoThread() = default;

void TUndoThread::work()
{
    log().Log(llInfo, QStringLiteral("Undo started by [%1]").arg(TEmailThread::userName()));
    const OpenStores open = openLockedStores();
    UndoJob job(m_options, log(),
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
    m_report.cancelled = job.run(*open.stores, m_jobs).cancelled;
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
    finishRun(text, incomplete || m_report.refused > 0, m_report.done > 0);
}

void TUndoThread::ended()
{
    Q_EMIT jobEnded(m_report);
}
