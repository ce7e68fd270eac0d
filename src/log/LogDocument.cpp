#include "LogDocument.h"

#include <algorithm>

namespace {

QString quotedField(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvField(const QString &value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        value.trimmed() == value)
        return value;
    return quotedField(value);
}

struct Field
{
    QString value;
    bool quoted = false;
};

// A quoted field at the start of text: its value, and in *rest what follows its
// closing quote; nothing when the quote never closes.
std::optional<QString> firstQuotedField(const QString &text, QString *rest)
{
    QString value;
    for (qsizetype at = 1; at < text.size(); ++at) {
        if (text[at] != QLatin1Char('"')) {
            value += text[at];
        } else if (at + 1 < text.size() && text[at + 1] == QLatin1Char('"')) {
            value += QLatin1Char('"');
            ++at;
        } else {
            *rest = text.mid(at + 1);
            return value;
        }
    }
    return std::nullopt;
}

// The last field of text, read backwards; nothing when text ends in a quoted field
// that never opens or does not follow a comma. *rest gets what comes before the comma
// that opens the field.
std::optional<Field> lastField(const QString &text, QString *rest)
{
    if (!text.endsWith(QLatin1Char('"'))) {
        const qsizetype comma = text.lastIndexOf(QLatin1Char(','));
        if (comma < 0)
            return std::nullopt;
        *rest = text.left(comma);
        return Field{text.mid(comma + 1), false};
    }
    for (qsizetype at = text.size() - 2; at >= 0; --at) {
        if (text[at] != QLatin1Char('"'))
            continue;
        if (at > 0 && text[at - 1] == QLatin1Char('"')) {
            --at; // a doubled quote inside the field
            continue;
        }
        if (at == 0 || text[at - 1] != QLatin1Char(','))
            return std::nullopt;
        *rest = text.left(at - 1);
        QString value = text.mid(at + 1, text.size() - at - 2);
        value.replace(QStringLiteral("\"\""), QStringLiteral("\""));
        return Field{value, true};
    }
    return std::nullopt;
}

bool isSha256(const QString &text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                      (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
           });
}

// What the type column holds: "type/subtype" as written, or nothing; never a slash
// at either end, so that the tail of an older line's link is not taken for one.
bool couldBeContentType(const QString &text)
{
    if (text.isEmpty())
        return true;
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    return slash > 0 && slash < text.size() - 1 && text.indexOf(QLatin1Char('/'), slash + 1) < 0 &&
           !text.contains(QLatin1Char(' ')) && !text.contains(QLatin1Char(']'));
}

// The two document columns at the end of text (",sha256,type"): nothing when its end
// does not read as them. With whole, text must be those two columns and nothing before;
// otherwise *before gets what comes before them.
std::optional<LogDocument> documentOf(const QString &text, bool whole, QString *before = nullptr)
{
    QString beforeType;
    QString beforeSha;
    const auto type = lastField(text, &beforeType);
    const auto sha = type ? lastField(beforeType, &beforeSha) : std::nullopt;
    // A quoted value was written by documentColumns; an unquoted one must look like
    // what it writes, or the line is an older one whose message ends in commas.
    if (!type || !sha || sha->quoted || !(sha->value.isEmpty() || isSha256(sha->value)) ||
        !(type->quoted || couldBeContentType(type->value)) || (whole && !beforeSha.isEmpty()))
        return std::nullopt;
    if (before)
        *before = beforeSha;
    return LogDocument{sha->value.toLower(), type->value};
}

} // namespace

QString messageField(const QString &message)
{
    for (const QChar c : message) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\r') ||
            c == QLatin1Char('\n'))
            return quotedField(message);
    }
    return message;
}

QString documentColumns(const LogDocument &document)
{
    return QLatin1Char(',') + csvField(document.sha256) + QLatin1Char(',') +
           csvField(document.contentType);
}

std::optional<LogLine> splitLogLine(const QString &line)
{
    LogLine result;
    QString *const fixed[] = {&result.date, &result.time, &result.level};
    qsizetype from = 0;
    for (QString *field : fixed) {
        const qsizetype comma = line.indexOf(QLatin1Char(','), from);
        if (comma < 0)
            return std::nullopt;
        *field = line.mid(from, comma - from);
        from = comma + 1;
    }
    const QString rest = line.mid(from);
    // A message that holds a comma or a quote is written as one quoted field; the
    // messages themselves start with a word, so an older log's unquoted message does not
    // start with a quote. What does not read as a quoted field is read as before.
    if (rest.startsWith(QLatin1Char('"'))) {
        QString after;
        if (const auto message = firstQuotedField(rest, &after)) {
            if (after.isEmpty()) {
                result.message = *message;
                return result;
            }
            if (const auto document = documentOf(after, /*whole=*/true)) {
                result.message = *message;
                result.document = *document;
                result.hasDocumentColumns = true;
                return result;
            }
        }
    }
    result.message = rest;
    QString before;
    if (const auto document = documentOf(rest, /*whole=*/false, &before)) {
        result.message = before;
        result.document = *document;
        result.hasDocumentColumns = true;
    }
    return result;
}
