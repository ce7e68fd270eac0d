#include "Url.h"

#include <QRegularExpression>

namespace update {

UrlParts splitUrl(const QString &url)
{
    UrlParts parts;
    QString rest = url;
    static const QRegularExpression schemeName(QStringLiteral("\\A[A-Za-z][A-Za-z0-9+.-]*\\z"));
    const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
    if (schemeEnd < 0 || !schemeName.match(url.left(schemeEnd)).hasMatch()) {
        parts.scheme = QStringLiteral("http");
    } else {
        // Only a scheme at the start counts: "x/?next=http://y" is a path, not a scheme.
        parts.scheme = url.left(schemeEnd).toLower();
        rest = url.mid(schemeEnd + 3);
        if (parts.scheme != QLatin1String("http") && parts.scheme != QLatin1String("https")) {
            parts.path = rest;
            return parts;
        }
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        parts.path = rest;
        return parts;
    }
    parts.host = rest.left(slash);
    parts.path = rest.mid(slash);
    return parts;
}

QString joinUrl(const UrlParts &parts)
{
    return parts.scheme + QLatin1String("://") + parts.host + parts.path;
}

QString urlEncode(const QString &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QString encoded;
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ') {
            encoded += QLatin1Char('+');
        } else if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                   (byte >= '0' && byte <= '9') || byte == '*' || byte == '-' || byte == '.' ||
                   byte == '_') {
            encoded += QLatin1Char(c);
        } else {
            encoded += QLatin1Char('%');
            encoded += QLatin1Char(hex[byte >> 4]);
            encoded += QLatin1Char(hex[byte & 0xF]);
        }
    }
    return encoded;
}

} // namespace update
