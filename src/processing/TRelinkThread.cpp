#include "TRelinkThread.h"

#include "TEmailThread.h"
#include "common/Error.h"
#include "log/TNullLog.h"

TRelinkThread::TRelinkThread(StatusView *statusForm, HandOverHost *host,
                             mailstore::ApplicationFactory createApplication,
                             std::vector<DetachRecord> records, QString from, QString to,
                             const QString &logFile, int lockTimeoutSeconds)
    : StoreChangeWorker(statusForm, host, std::move(createApplication), logFile,
                        lockTimeoutSeconds),
      m_records(std::move(records)), m_from(std::move(from)), m_to(std::move(to))
{
    start();
}

TRelinkThread::~TRelinkThread() = default;

void TRelinkThread::work()
{
    log().Log(llInfo, QStringLiteral("Relinking of saved files from %1 to %2 started by [%3]")
                          .arg(m_from, m_to, TEmailThread::userName()));
    const OpenStores open = openLockedStores();
    RelinkJob job(m_from, m_to, log(),
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
    m_report = job.run(*open.stores, m_records);
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
    finishRun(text, incomplete || m_report.refused > 0, m_report.done > 0);
}

void TRelinkThread::ended()
{
    Q_EMIT jobEnded(m_report);
}
