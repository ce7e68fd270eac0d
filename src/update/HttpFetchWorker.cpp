#include "HttpFetchWorker.h"

#include "CurlHandle.h"
#include "Url.h"

#include <QLocale>

namespace update {

namespace {

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 0, QLocale::DataSizeIecFormat);
}

} // namespace

HttpFetchWorker::HttpFetchWorker(FetchRequest request, QObject *parent)
    : QThread(parent), m_request(std::move(request))
{
}

void HttpFetchWorker::stop()
{
    m_stopRequested = true;
}

size_t HttpFetchWorker::receive(char *data, size_t size, size_t count, void *target)
{
    auto *worker = static_cast<HttpFetchWorker *>(target);
    const auto bytes = qint64(size * count);
    if (worker->m_stopRequested)
        return 0;
    if (worker->m_contentLength < 0) {
        curl_off_t announced = -1;
        curl_easy_getinfo(worker->m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        worker->m_contentLength = announced < 0 ? 0 : announced;
        if (announced < 0 && worker->m_request.binaryData) {
            worker->m_refusal = QStringLiteral("the reply does not give its length");
            return 0;
        }
    }
    const qint64 limit = worker->m_request.limits.maxReplyBytes;
    if (worker->m_contentLength > limit || worker->m_outcome.body.size() + bytes > limit) {
        worker->m_refusal = QStringLiteral("the reply is larger than %1, the most that is read")
                                .arg(sizeText(limit));
        return 0;
    }
    worker->m_outcome.body.append(data, bytes);
    Q_EMIT worker->progressed(worker->m_contentLength, worker->m_outcome.body.size());
    return size * count;
}

int HttpFetchWorker::transferInfo(void *target, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    // Non-zero ends the transfer: this is how a stop reaches a connect or a silent server.
    return static_cast<HttpFetchWorker *>(target)->m_stopRequested ? 1 : 0;
}

QString HttpFetchWorker::failureText(int code, const char *detail) const
{
    const auto result = CURLcode(code);
    if (result == CURLE_ABORTED_BY_CALLBACK || (result == CURLE_WRITE_ERROR && m_stopRequested))
        return QStringLiteral("The transfer was stopped");
    QString reason;
    long redirects = 0;
    curl_easy_getinfo(m_curl, CURLINFO_REDIRECT_COUNT, &redirects);
    if (result == CURLE_WRITE_ERROR && !m_refusal.isEmpty()) {
        reason = m_refusal;
    } else if (result == CURLE_TOO_MANY_REDIRECTS) {
        reason = QStringLiteral("the web site redirects more than %1 times")
                     .arg(m_request.limits.maxRedirects);
    } else if (result == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0) {
        const char *to = nullptr;
        curl_easy_getinfo(m_curl, CURLINFO_EFFECTIVE_URL, &to);
        reason = QStringLiteral("the web site redirects to %1, which is not followed: %2")
                     .arg(QString::fromUtf8(to),
                          splitUrl(m_request.url).scheme == QLatin1String("https")
                              ? QStringLiteral("an https address redirects only to https")
                              : QStringLiteral("only http and https addresses are followed"));
    } else {
        reason = detail && *detail ? QString::fromUtf8(detail).trimmed()
                                   : QString::fromUtf8(curl_easy_strerror(result));
    }
    return QStringLiteral("Cannot fetch %1: %2").arg(m_request.url, reason);
}

void HttpFetchWorker::run()
{
    const UrlParts parts = splitUrl(m_request.url);
    if (parts.scheme != QLatin1String("http") && parts.scheme != QLatin1String("https")) {
        m_outcome.error =
            QStringLiteral("Cannot fetch %1: only http and https addresses can be fetched")
                .arg(m_request.url);
        return;
    }
    if (parts.host.isEmpty()) {
        m_outcome.error =
            QStringLiteral("Cannot fetch %1: the address has no host name followed by a path")
                .arg(m_request.url);
        return;
    }
    CurlEasy curl(curl_easy_init());
    if (!curl) {
        m_outcome.error =
            QStringLiteral("Cannot fetch %1: the HTTP library cannot start a transfer")
                .arg(m_request.url);
        return;
    }
    m_curl = curl.get();
    CURL *handle = curl.get();

    const QByteArray url = joinUrl(parts).toUtf8();
    const QByteArray agent = m_request.agent.toUtf8();
    const QByteArray userName = m_request.userName.toUtf8();
    const QByteArray password = m_request.password.toUtf8();
    const QByteArray referer = m_request.referer.toUtf8();
    const QByteArray post = m_request.postQuery.toUtf8();
    const QByteArray caFile = m_request.caCertificates.toLocal8Bit();
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // A redirect never leaves https for plain http.
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR,
                     parts.scheme == QLatin1String("https") ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, long(m_request.limits.maxRedirects));
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(m_request.limits.connectTimeoutMs));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(m_request.limits.totalTimeoutMs));
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.constData());
    // Always from the server, never from a cache on the way.
    CurlList headers(curl_slist_append(nullptr, "Pragma: no-cache"));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    if (!agent.isEmpty())
        curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.constData());
    if (!userName.isEmpty() || !password.isEmpty()) {
        curl_easy_setopt(handle, CURLOPT_USERNAME, userName.constData());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
    }
    if (!referer.isEmpty())
        curl_easy_setopt(handle, CURLOPT_REFERER, referer.constData());
    if (!post.isEmpty()) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(post.size()));
        curl_easy_setopt(handle, CURLOPT_COPYPOSTFIELDS, post.constData());
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &HttpFetchWorker::receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &HttpFetchWorker::transferInfo);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    const CURLcode result = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &m_outcome.httpStatus);
    if (result != CURLE_OK) {
        m_outcome.error = failureText(result, errorText);
        m_outcome.body.clear();
    } else if (m_outcome.body.isEmpty()) {
        m_outcome.error = QStringLiteral("Cannot fetch %1: the reply is empty").arg(m_request.url);
    } else {
        m_outcome.succeeded = true;
    }
    m_curl = nullptr;
}

} // namespace update
