#pragma once

#include <QByteArray>
#include <QString>

namespace update {

// What bounds one fetch. A reply is never trusted to be small or quick.
struct FetchLimits
{
    qint64 maxReplyBytes = 1 << 20;
    int connectTimeoutMs = 10000;
    int totalTimeoutMs = 30000;
    int maxRedirects = 5;
};

// Everything a fetch needs, copied when it starts.
struct FetchRequest
{
    QString url;
    QString agent;    // User-Agent; empty sends none
    QString userName; // with password: HTTP authentication when not empty
    QString password;
    QString postQuery; // not empty: a POST with this body; otherwise a GET
    QString referer;
    bool binaryData = false; // the reply must announce its length
    FetchLimits limits;
    // A file of certificate authorities to trust instead of the system's; certificates
    // are verified either way.
    QString caCertificates;
};

// How a fetch ended.
struct FetchOutcome
{
    bool succeeded = false;
    QByteArray body;
    long httpStatus = 0; // 0 when no reply came
    QString error;       // why it failed; empty on success
};

} // namespace update
