#pragma once

#include "FetchRequest.h"

#include <QThread>

#include <atomic>
#include <curl/curl.h>

namespace update {

// The worker thread of one fetch: one libcurl transfer with the request's limits.
// Its outcome is read once the thread has finished.
class HttpFetchWorker : public QThread
{
    Q_OBJECT
public:
    explicit HttpFetchWorker(FetchRequest request, QObject *parent = nullptr);

    // Stops the transfer within a fraction of a second; safe from any thread.
    void stop();
    bool stopRequested() const { return m_stopRequested; }

    // Valid once the thread has finished.
    const FetchOutcome &outcome() const { return m_outcome; }

Q_SIGNALS:
    // After each chunk received: the announced length (0 when none) and the bytes so far.
    void progressed(qint64 totalSize, qint64 received);

protected:
    void run() override;

private:
    static size_t receive(char *data, size_t size, size_t count, void *worker);
    static int transferInfo(void *worker, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    QString failureText(int code, const char *detail) const;

    const FetchRequest m_request;
    std::atomic_bool m_stopRequested = false;
    FetchOutcome m_outcome;
    CURL *m_curl = nullptr; // the running transfer's easy handle
    qint64 m_contentLength = -1;
    QString m_refusal; // why receive() refused the reply
};

} // namespace update
