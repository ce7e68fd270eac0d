#include "HeaderMemo.h"

#include "common/GObjectPtr.h"

#include <gmime/gmime.h>

namespace mime {

HeaderMemo::ContentType HeaderMemo::parseContentType(const QByteArray &value)
{
    ContentType result;
    // An unreadable type reads as application/octet-stream.
    qb::GObjectPtr<GMimeContentType> type(g_mime_content_type_parse(nullptr, value.constData()));
    gchar *mimeType = g_mime_content_type_get_mime_type(type.get());
    result.mimeType = QByteArray(mimeType).toLower();
    g_free(mimeType);
    if (result.mimeType.startsWith("multipart/"))
        result.boundary = g_mime_content_type_get_parameter(type.get(), "boundary");
    if (const char *name = g_mime_content_type_get_parameter(type.get(), "name"))
        result.name = QByteArray(name);
    return result;
}

HeaderMemo::Disposition HeaderMemo::parseDisposition(const QByteArray &value)
{
    Disposition result;
    qb::GObjectPtr<GMimeContentDisposition> disposition(
        g_mime_content_disposition_parse(nullptr, value.constData()));
    if (!disposition)
        return result;
    result.parsed = true;
    result.attachment = g_mime_content_disposition_is_attachment(disposition.get());
    if (const char *name = g_mime_content_disposition_get_parameter(disposition.get(), "filename"))
        result.filename = QByteArray(name);
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
