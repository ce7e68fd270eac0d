#include "LogDocument.h"

#include <algorithm>

namespace {

QString csvField(const QString &value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        value.trimmed() == value)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

struct Field
{
    QString value;
    bool quoted = false;
};

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

} // namespace

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
    result.message = rest;
    QString beforeType;
    QString beforeSha;
    const auto type = lastField(rest, &beforeType);
    const auto sha = type ? lastField(beforeType, &beforeSha) : std::nullopt;
    // A quoted value was written by documentColumns; an unquoted one must look like
    // what it writes, or the line is an older one whose message ends in commas.
    if (type && sha && !sha->quoted && (sha->value.isEmpty() || isSha256(sha->value)) &&
        (type->quoted || couldBeContentType(type->value))) {
        result.message = beforeSha;
        result.document = {sha->value.toLower(), type->value};
        result.hasDocumentColumns = true;
    }
    return result;
}
