#include "TRelinkThread.h"

#include "TEmailThread.h"
#include "common/Error.h"
#include "log/TLogManager.h"

TRelinkThread::TRelinkThread(StatusView *statusForm, HandOverHost *host,
                             mailstore::ApplicationFactory createApplication,
                             std::vector<DetachRecord> records, QString from, QString to,
                             const QString &logFile, int lockTimeoutSeconds)
    : HandOverWorker(host, statusForm), m_createApplication(std::move(createApplication)),
      m_records(std::move(records)), m_from(std::move(from)), m_to(std::move(to)),
      m_log(AcquireLog(logFile, true)), m_lockTimeout(lockTimeoutSeconds)
{
    start();
}

TRelinkThread::~TRelinkThread() = default;

void TRelinkThread::work()
{
    m_log->Log(llInfo, QStringLiteral("Relinking of saved files from %1 to %2 started by [%3]")
                           .arg(m_from, m_to, TEmailThread::userName()));
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

    RelinkJob job(m_from, m_to, *m_log,
                  {[this](const QString &text) { PostStatus(text); },
                   [this](RelinkJob::Kind kind, const QString &text) {
                       // Counted as it happens, so that an error later still finds it told.
                       if (kind == RelinkJob::Kind::Done)
                           ++m_report.done;
                       else if (kind == RelinkJob::Kind::Refused)
                           ++m_report.refused;
                       else
                           ++m_report.notFound;
                       Q_EMIT outcome(kind, text);
                   },
                   [this] { return cancelled(); }});
    m_report = job.run(*mapi, m_records);
}

void TRelinkThread::endRun()
{
    const bool incomplete = m_report.cancelled || stoppedByError();
    QString text = QStringLiteral("%1. %2 note(s) relinked")
                       .arg(incomplete ? QStringLiteral("INCOMPLETE") : QStringLiteral("Complete"))
                       .arg(m_report.done);
    if (m_report.refused > 0)
        text += QStringLiteral(", %1 refused - see the log").arg(m_report.refused);
    if (m_report.notFound > 0)
        text += QStringLiteral(", %1 not found").arg(m_report.notFound);
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

void TRelinkThread::endOfJob()
{
    if (!m_logReleased)
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
