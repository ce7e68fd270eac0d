#pragma once

#include "FetchRequest.h"

#include <QObject>
#include <QPointer>

namespace update {

class HttpFetchWorker;

// Fetches one web address in the background, at most one fetch at a time, and hands
// the reply's body over on the thread that owns it. The properties are read when a
// fetch starts.
//
// A fetch fails, with a message saying why, when no server answers in time, the
// transfer breaks off, the reply is empty or larger than the limit, or it is stopped.
// An HTTP error status is no failure: its page is the reply.
class HttpFetch : public QObject
{
    Q_OBJECT
public:
    explicit HttpFetch(QObject *parent = nullptr);
    // Stops a running fetch; its end reports to no one.
    ~HttpFetch() override;

    QString Agent = QStringLiteral("Orvandel HTTPGet");
    bool BinaryData = false; // deliver through doneData; the reply must announce its length
    QString URL;
    QString UserName;
    QString Password;
    QString PostQuery; // not empty: a POST with this body
    QString Referer;
    bool WaitThread = false; // fetchText returns once the fetch has ended
    FetchLimits Limits;
    QString CaCertificates; // empty: the system's certificate authorities

    // Starts a fetch; false, doing nothing, while one runs.
    bool fetchText();
    // Stops the running fetch: it ends with an error, never with a partial reply.
    // Does not wait.
    void abortFetch();

    bool fetching() const { return !m_worker.isNull(); }
    bool succeeded() const { return m_succeeded; }
    // The status of the last reply, 0 when none came.
    long httpStatus() const { return m_httpStatus; }

Q_SIGNALS:
    void progress(qint64 totalSize, qint64 received);
    void doneString(const QString &result);
    void doneData(const QByteArray &result);
    void error(const QString &message);
    // After every fetch, once doneString, doneData or error has been emitted.
    void finished();

private:
    void fetchDone();

    QPointer<HttpFetchWorker> m_worker;
    bool m_binary = false; // the running fetch's BinaryData
    bool m_succeeded = false;
    long m_httpStatus = 0;
};

} // namespace update
