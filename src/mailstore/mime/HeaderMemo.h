#pragma once

#include <QByteArray>
#include <QHash>

namespace mime {

// What GMime made of Content-Type and Content-Disposition values seen before, for a
// reader that goes through many emails on one thread. Mail repeats these values
// ("text/plain; charset=utf-8", the same attachment types and names), and each parse
// makes and frees several GObjects: for small emails, most of the reading. A value
// reads the same every time, so what is remembered is what GMime gives. Belongs to one
// thread; holds a bounded number of values.
class HeaderMemo
{
public:
    struct ContentType
    {
        // "type/subtype" in lower case; null when the value names no valid type (empty,
        // no subtype, characters a type cannot hold), which readers take as text/plain
        QByteArray mimeType;
        QByteArray boundary; // multiparts' only
        QByteArray name;     // the name parameter; null when there is none
    };
    struct Disposition
    {
        bool attachment = false; // its type is "attachment"
        QByteArray filename;     // the filename parameter; null when there is none
    };

    // The most values of each kind remembered; past it, it starts again.
    static constexpr qsizetype capacity = 512;

    // What GMime reads in an unfolded Content-Type value. A name or filename parameter
    // is read even behind a type or separator that GMime cannot read.
    static ContentType parseContentType(const QByteArray &value);
    static Disposition parseDisposition(const QByteArray &value);

    ContentType contentType(const QByteArray &value);
    Disposition disposition(const QByteArray &value);

private:
    template <class T>
    T remembered(QHash<QByteArray, T> &values, const QByteArray &value,
                 T (*parse)(const QByteArray &));

    QHash<QByteArray, ContentType> m_contentTypes;
    QHash<QByteArray, Disposition> m_dispositions;
};

} // namespace mime
