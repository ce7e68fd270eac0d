#include "HeaderText.h"

#include "common/GObjectPtr.h"

#include <gmime/gmime.h>

#include <QStringDecoder>

namespace mime {

namespace {

QString fallbackDecode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    // windows-1252 is what unlabelled 8-bit mail almost always is; it never fails.
    gsize written = 0;
    gchar *converted = g_convert(bytes.constData(), bytes.size(), "UTF-8", "WINDOWS-1252", nullptr,
                                 &written, nullptr);
    if (!converted)
        return QString::fromLatin1(bytes);
    text = QString::fromUtf8(converted, qsizetype(written));
    g_free(converted);
    return text;
}

struct EncodedWord
{
    qsizetype begin = -1;
    qsizetype end = -1; // one past "?="
    QByteArray charset;
    QByteArray bytes;
};

QByteArray decodeQ(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size() && isxdigit(uchar(text[i + 1])) &&
                   isxdigit(uchar(text[i + 2]))) {
            out.append(char(QByteArray(text.data() + i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

// Finds the encoded words "=?charset?B|Q?text?=" of a header value in order. Each
// search starts where the last one ended, so a value full of fragments that never
// close is read once, not once per fragment.
class EncodedWordFinder
{
public:
    explicit EncodedWordFinder(const QByteArray &raw) : m_raw(raw) {}

    EncodedWord next(qsizetype from);

private:
    // The first position at or after from of needle, remembered while it stays ahead.
    qsizetype cached(qsizetype &slot, qsizetype from, const char *needle)
    {
        if (slot != -1 && slot < from)
            slot = m_raw.indexOf(needle, from);
        return slot;
    }

    const QByteArray &m_raw;
    qsizetype m_question = -2;
    qsizetype m_close = -2;
};

EncodedWord EncodedWordFinder::next(qsizetype from)
{
    constexpr qsizetype longestCharset = 64;
    const QByteArray &raw = m_raw;
    for (qsizetype start = raw.indexOf("=?", from); start >= 0;
         start = raw.indexOf("=?", start + 1)) {
        const qsizetype q1 = cached(m_question, start + 2, "?");
        if (q1 < 0)
            return {};
        if (q1 - start - 2 > longestCharset || q1 + 2 >= raw.size() || raw[q1 + 2] != '?')
            continue;
        const char encoding = char(toupper(uchar(raw[q1 + 1])));
        if (encoding != 'B' && encoding != 'Q')
            continue;
        const qsizetype close = cached(m_close, q1 + 3, "?=");
        if (close < 0)
            return {};
        QByteArray charset = raw.mid(start + 2, q1 - start - 2);
        if (charset.isEmpty() || charset.contains(' '))
            continue;
        const qsizetype language = charset.indexOf('*'); // RFC 2231 language suffix
        if (language >= 0)
            charset.truncate(language);
        const QByteArrayView text(raw.constData() + q1 + 3, close - q1 - 3);
        EncodedWord word;
        word.begin = start;
        word.end = close + 2;
        word.charset = charset.toLower();
        word.bytes = encoding == 'B' ? QByteArray::fromBase64(text.toByteArray()) : decodeQ(text);
        return word;
    }
    return {};
}

bool onlyWhitespace(const QByteArray &raw, qsizetype begin, qsizetype end)
{
    for (qsizetype i = begin; i < end; ++i) {
        if (raw[i] != ' ' && raw[i] != '\t')
            return false;
    }
    return true;
}

} // namespace

QString toUnicode(const QByteArray &bytes, const QByteArray &charset)
{
    if (bytes.isEmpty())
        return {};
    const QByteArray name = charset.trimmed().toLower();
    if (name.isEmpty() || name == "us-ascii" || name == "utf-8" || name == "utf8" ||
        name == "unknown-8bit" || name == "x-unknown")
        return fallbackDecode(bytes);
    const char *iconvName = g_mime_charset_iconv_name(name.constData());
    gsize written = 0;
    gchar *converted =
        g_convert(bytes.constData(), bytes.size(), "UTF-8", iconvName, nullptr, &written, nullptr);
    if (!converted)
        return fallbackDecode(bytes);
    const QString text = QString::fromUtf8(converted, qsizetype(written));
    g_free(converted);
    return text;
}

QByteArray unfold(const QByteArray &raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (const char c : raw) {
        if (c != '\r' && c != '\n')
            out.append(c);
    }
    return out;
}

QString decodeHeaderText(const QByteArray &rawValue)
{
    const QByteArray raw = unfold(rawValue).trimmed();
    QString out;
    qsizetype pos = 0;
    QByteArray pendingCharset;
    QByteArray pendingBytes;
    EncodedWordFinder finder(raw);
    auto flush = [&] {
        out += toUnicode(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    while (pos < raw.size()) {
        const EncodedWord word = finder.next(pos);
        if (word.begin < 0) {
            flush();
            out += fallbackDecode(raw.mid(pos));
            break;
        }
        // White space between two encoded words is not part of the text.
        const bool joinsPrevious =
            !pendingCharset.isEmpty() && onlyWhitespace(raw, pos, word.begin);
        if (!joinsPrevious) {
            flush();
            out += fallbackDecode(raw.mid(pos, word.begin - pos));
        } else if (word.charset != pendingCharset) {
            flush();
        }
        pendingCharset = word.charset;
        pendingBytes += word.bytes;
        pos = word.end;
    }
    flush();
    return out;
}

} // namespace mime
