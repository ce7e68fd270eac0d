#include "NoteText.h"

#include <QRegularExpression>

#include <gmime/gmime.h>

namespace mime {

namespace {

QString withLineBreaks(QString text, const QByteArray &lineBreak)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (lineBreak != "\n")
        text.replace(QLatin1Char('\n'), QString::fromLatin1(lineBreak));
    return text;
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 128; });
}

std::optional<QByteArray> convert(const QByteArray &utf8, const QByteArray &charset)
{
    const char *iconvName = g_mime_charset_iconv_name(charset.constData());
    gsize written = 0;
    gchar *converted =
        g_convert(utf8.constData(), utf8.size(), iconvName, "UTF-8", nullptr, &written, nullptr);
    if (!converted)
        return std::nullopt;
    QByteArray result(converted, qsizetype(written));
    g_free(converted);
    return result;
}

QString characterReferences(const QString &text)
{
    QString out;
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint < 128)
            out += QChar(char16_t(codePoint));
        else
            out += QStringLiteral("&#%1;").arg(quint32(codePoint));
    }
    return out;
}

} // namespace

std::optional<QByteArray> noteInCharset(const QString &note, const QByteArray &charset,
                                        const QByteArray &lineBreak)
{
    const QByteArray utf8 = withLineBreaks(note, lineBreak).toUtf8();
    const QByteArray name = charset.trimmed().toLower();
    if (name.isEmpty() || name == "us-ascii" || name == "ascii")
        return isAscii(utf8) ? std::optional<QByteArray>(utf8) : std::nullopt;
    if (name == "utf-8" || name == "utf8")
        return utf8;
    // Only a charset that writes ASCII as ASCII can be appended to byte by byte.
    if (convert(QByteArrayLiteral("A\n="), charset) != QByteArrayLiteral("A\n="))
        return std::nullopt;
    return convert(utf8, charset);
}

QByteArray noteAsHtml(const QString &note, const QByteArray &lineBreak)
{
    static const QRegularExpression link(QStringLiteral("file://[^\\s<>\"]+"));
    QString html;
    qsizetype done = 0;
    const QString trimmed = note.trimmed();
    for (auto match = link.globalMatch(trimmed); match.hasNext();) {
        const auto found = match.next();
        html += trimmed.mid(done, found.capturedStart() - done).toHtmlEscaped();
        const QString url = found.captured().toHtmlEscaped();
        html += QStringLiteral("<a href=\"%1\">%1</a>").arg(url);
        done = found.capturedEnd();
    }
    html += trimmed.mid(done).toHtmlEscaped();
    html.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return characterReferences(QStringLiteral("<p>") + html + QStringLiteral("</p>")).toLatin1() +
           lineBreak;
}

qsizetype htmlInsertionPoint(QByteArrayView html)
{
    static constexpr char closing[] = "</body";
    constexpr qsizetype length = sizeof closing - 1;
    for (qsizetype at = html.lastIndexOf('<'); at >= 0;
         at = at > 0 ? html.lastIndexOf('<', at - 1) : -1) {
        if (at + length <= html.size() && qstrnicmp(html.data() + at, length, closing, length) == 0)
            return at;
    }
    return html.size();
}

QByteArray lineBreakIn(QByteArrayView text, const QByteArray &fallback)
{
    const qsizetype newline = text.indexOf('\n');
    if (newline < 0)
        return fallback;
    return newline > 0 && text[newline - 1] == '\r' ? QByteArrayLiteral("\r\n")
                                                    : QByteArrayLiteral("\n");
}

} // namespace mime
