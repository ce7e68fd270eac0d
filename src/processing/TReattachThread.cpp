#include "TReattachThread.h"

#include "TEmailThread.h"
#include "common/Error.h"
#include "log/TLogManager.h"

TReattachThread::TReattachThread(StatusView *statusForm, HandOverHost *host,
                                 mailstore::ApplicationFactory createApplication,
                                 std::vector<DetachRecord> records, ReattachJob::Options options,
                                 const QString &logFile, int lockTimeoutSeconds)
    : HandOverWorker(host, statusForm), m_createApplication(std::move(createApplication)),
      m_records(std::move(records)), m_options(std::move(options)),
      m_log(AcquireLog(logFile, true)), m_lockTimeout(lockTimeoutSeconds)
{
    start();
}

TReattachThread::~TReattachThread() = default;

void TReattachThread::run()
{
    try {
        runJob();
    } catch (...) {
        ReportError(std::current_exception());
        m_report.cancelled = true;
        try {
            runStep([this] { endOfJob(); });
        } catch (...) {
        }
    }
}

void TReattachThread::runJob()
{
    const QString what = m_options.relinkOnly ? QStringLiteral("Relinking of detached documents")
                                              : QStringLiteral("Undo of detaches");
    m_log->Log(llInfo, QStringLiteral("%1 started by [%2]").arg(what, TEmailThread::userName()));
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

    ReattachJob job(
        m_options, *m_log,
        {[this](const QString &text) { PostStatus(text); },
         [this](ReattachJob::Kind kind, const QString &text) { Q_EMIT outcome(kind, text); },
         [this] { return cancelled(); }});
    m_report = job.run(*mapi, m_records);

    const QString done =
        m_options.relinkOnly ? QStringLiteral("relinked") : QStringLiteral("put back");
    QString text =
        QStringLiteral("%1. %2 attachment(s) %3")
            .arg(m_report.cancelled ? QStringLiteral("INCOMPLETE") : QStringLiteral("Complete"))
            .arg(m_report.done)
            .arg(done);
    if (m_report.refused > 0)
        text += QStringLiteral(", %1 refused - see the log").arg(m_report.refused);
    if (m_report.notFound > 0)
        text += QStringLiteral(", %1 not found").arg(m_report.notFound);
    PostStatus(text);
    m_log->Log(m_report.cancelled || m_report.refused > 0 ? llWarning : llInfo, text);
    m_log->Log(llInfo, QStringLiteral("End of job"));
    runStep([this] { endOfJob(); });
}

void TReattachThread::endOfJob()
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
