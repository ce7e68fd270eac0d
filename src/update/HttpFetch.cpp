#include "HttpFetch.h"

#include "CurlHandle.h"
#include "HttpFetchWorker.h"

#include <QDeadlineTimer>
#include <QEventLoop>

namespace update {

namespace {
// A stopped transfer ends within about a second (libcurl's slowest progress call).
constexpr int stopWaitMs = 3000;
} // namespace

HttpFetch::HttpFetch(QObject *parent) : QObject(parent) {}

HttpFetch::~HttpFetch()
{
    if (!m_worker)
        return;
    HttpFetchWorker *worker = m_worker;
    worker->disconnect(this);
    worker->stop();
    // The worker never waits for this thread, so waiting for it cannot lock up.
    if (worker->wait(QDeadlineTimer(stopWaitMs))) {
        delete worker;
        return;
    }
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    if (worker->isFinished())
        delete worker;
}

bool HttpFetch::fetchText()
{
    if (m_worker)
        return false;
    initialiseCurl();
    FetchRequest request;
    request.url = URL;
    request.agent = Agent;
    request.userName = UserName;
    request.password = Password;
    request.postQuery = PostQuery;
    request.referer = Referer;
    request.binaryData = BinaryData;
    request.limits = Limits;
    request.caCertificates = CaCertificates;
    auto *worker = new HttpFetchWorker(std::move(request));
    m_worker = worker;
    m_binary = BinaryData;
    connect(worker, &HttpFetchWorker::progressed, this, &HttpFetch::progress);
    connect(worker, &QThread::finished, this, &HttpFetch::fetchDone);
    worker->start();
    if (WaitThread) {
        QEventLoop loop;
        connect(this, &HttpFetch::finished, &loop, &QEventLoop::quit);
        if (m_worker == worker)
            loop.exec();
    }
    return true;
}

void HttpFetch::abortFetch()
{
    if (m_worker)
        m_worker->stop();
}

void HttpFetch::fetchDone()
{
    HttpFetchWorker *worker = m_worker;
    if (!worker || !worker->isFinished())
        return;
    FetchOutcome outcome = worker->outcome();
    const bool stopped = worker->stopRequested();
    m_worker.clear();
    worker->deleteLater();
    // A reply that was complete when the stop came is still not delivered: the owner no
    // longer wants it.
    if (stopped) {
        outcome.succeeded = false;
        outcome.error = QStringLiteral("The transfer was stopped");
    }
    m_succeeded = outcome.succeeded;
    m_httpStatus = outcome.httpStatus;
    // The owner may free this component while it handles the event (a closed window).
    const QPointer<HttpFetch> self(this);
    if (!outcome.succeeded)
        Q_EMIT error(outcome.error);
    else if (m_binary)
        Q_EMIT doneData(outcome.body);
    else
        Q_EMIT doneString(QString::fromUtf8(outcome.body));
    if (self)
        Q_EMIT finished();
}

} // namespace update
