#pragma once

// The update layer: fetching a page over HTTP(S) on a worker thread, the versions
// file and the update date. Links the common, lang and settings layers and libcurl;
// knows nothing of windows.

#include <QString>

namespace update {

// A web address taken apart the way the fetch needs it.
struct UrlParts
{
    QString scheme; // "http" or "https" when the address names one of them or no scheme
    QString host;   // with its ":port" when given; empty when no "/" follows it
    QString path;   // from the first "/" on, with the query
};

// "http://" or "https://" (any letter case) at the start names the scheme; an address
// without "://" is taken as http. The host is what comes before the first "/"; without
// a "/" the host is empty and the rest is the path. Another scheme ("ftp://") comes
// back as it is named, with an empty host, so that it is refused.
UrlParts splitUrl(const QString &url);

// The address a fetch asks for: scheme, "://", host and path.
QString joinUrl(const UrlParts &parts);

// A query value: a blank becomes "+", letters, digits and "*-._" stay, and every other
// byte of the UTF-8 text becomes "%" and two upper-case hexadecimal digits.
QString urlEncode(const QString &text);

} // namespace update
