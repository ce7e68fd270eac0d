#include "HeaderMemo.h"

#include "MimeParameter.h"
#include "common/GObjectPtr.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <string>

namespace mime {

namespace {

// Whether GMime's reading of a value names a valid type. GMime reads what it cannot
// parse as application/octet-stream; so does an empty value.
bool isValidType(const QByteArray &mimeType, const QByteArray &value)
{
    const qsizetype slash = mimeType.indexOf('/');
    if (slash < 0 || !isToken(QByteArrayView(mimeType).first(slash)) ||
        !isToken(QByteArrayView(mimeType).sliced(slash + 1)))
        return false;
    return mimeType != "application/octet-stream" ||
           value.toLower().contains("application/octet-stream");
}

// Where the parameter name (or its RFC 2231 form name*...) starts in value, outside
// quoted text and as a word of its own, wherever the value's type and separators are
// broken; -1 when it does not.
qsizetype parameterStart(const QByteArray &value, QByteArrayView name)
{
    bool inQuotes = false;
    for (qsizetype at = 0; at < value.size(); ++at) {
        const char c = value[at];
        if (c == '"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (inQuotes) {
            if (c == '\\')
                ++at;
            continue;
        }
        if (at > 0 && isTokenCharacter(value[at - 1]))
            continue;
        if (value.size() - at <= name.size() ||
            QByteArrayView(value).sliced(at, name.size()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        qsizetype after = at + name.size();
        while (after < value.size() && (value[after] == ' ' || value[after] == '\t'))
            ++after;
        if (after < value.size() && (value[after] == '=' || value[after] == '*'))
            return at;
    }
    return -1;
}

// The parameter as GMime reads it once whatever comes before it is put right.
QByteArray recoveredParameter(const QByteArray &value, const char *name)
{
    const qsizetype start = parameterStart(value, name);
    if (start < 0)
        return {};
    const QByteArray mended = "application/octet-stream; " + value.mid(start);
    qb::GObjectPtr<GMimeContentType> type(g_mime_content_type_parse(nullptr, mended.constData()));
    const char *found = g_mime_content_type_get_parameter(type.get(), name);
    return found ? QByteArray(found) : QByteArray();
}

} // namespace

HeaderMemo::ContentType HeaderMemo::parseContentType(const QByteArray &value)
{
    ContentType result;
    qb::GObjectPtr<GMimeContentType> type(g_mime_content_type_parse(nullptr, value.constData()));
    gchar *mimeType = g_mime_content_type_get_mime_type(type.get());
    result.mimeType = QByteArray(mimeType).toLower();
    g_free(mimeType);
    if (!isValidType(result.mimeType, value))
        result.mimeType = QByteArray();
    if (result.mimeType.startsWith("multipart/"))
        result.boundary = g_mime_content_type_get_parameter(type.get(), "boundary");
    if (const char *name = g_mime_content_type_get_parameter(type.get(), "name"))
        result.name = QByteArray(name);
    else
        result.name = recoveredParameter(value, "name");
    return result;
}

HeaderMemo::Disposition HeaderMemo::parseDisposition(const QByteArray &value)
{
    Disposition result;
    // The type is the first word, whatever follows it.
    qsizetype start = 0;
    while (start < value.size() && (value[start] == ' ' || value[start] == '\t'))
        ++start;
    qsizetype end = start;
    while (end < value.size() && isTokenCharacter(value[end]))
        ++end;
    result.attachment = QByteArrayView(value)
                            .sliced(start, end - start)
                            .compare("attachment", Qt::CaseInsensitive) == 0;
    qb::GObjectPtr<GMimeContentDisposition> disposition(
        g_mime_content_disposition_parse(nullptr, value.constData()));
    const char *name = disposition
                           ? g_mime_content_disposition_get_parameter(disposition.get(), "filename")
                           : nullptr;
    result.filename = name ? QByteArray(name) : recoveredParameter(value, "filename");
    return result;
}

template <class T>
T HeaderMemo::remembered(QHash<QByteArray, T> &values, const QByteArray &value,
                         T (*parse)(const QByteArray &))
{
    auto found = values.find(value);
    if (found != values.end())
        return *found;
    if (values.size() >= capacity) {
        // Unique values (boundaries) would crowd out the ones that repeat: start again.
        values.clear();
    }
    return *values.insert(value, parse(value));
}

HeaderMemo::ContentType HeaderMemo::contentType(const QByteArray &value)
{
    return remembered(m_contentTypes, value, &parseContentType);
}

HeaderMemo::Disposition HeaderMemo::disposition(const QByteArray &value)
{
    return remembered(m_dispositions, value, &parseDisposition);
}

} // namespace mime
