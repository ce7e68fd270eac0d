#include "FileOpenCommand.h"

#include "common/Text.h"

namespace remote {

namespace {

// "[FileOpen(" and the double quote that opens the path: 11 characters.
constexpr QLatin1String opening{"[FileOpen(\""};
constexpr qsizetype longestPath = 255;

} // namespace

QString joinedLines(const QString &command)
{
    QString joined;
    joined.reserve(command.size() + 2);
    const qsizetype length = command.size();
    qsizetype start = 0;
    while (start < length) {
        qsizetype end = start;
        while (end < length && command[end] != u'\r' && command[end] != u'\n')
            ++end;
        joined += QStringView(command).mid(start, end - start);
        joined += QLatin1String("\r\n");
        if (end + 1 < length && command[end] == u'\r' && command[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return joined;
}

std::optional<QString> fileOpenPath(const QString &joined)
{
    if (!joined.startsWith(opening))
        return std::nullopt;
    QString path = qb::firstCharacters(joined.mid(opening.size()), longestPath);
    const qsizetype quote = path.indexOf(u'"');
    if (quote >= 0)
        path.truncate(quote);
    return path;
}

QString fileOpenCommand(const QString &path)
{
    return opening + path + QLatin1String("\")]");
}

QString unsendableReason(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("the path is empty");
    if (path.contains(u'"'))
        return QStringLiteral("the path holds a double quote, which would end it early");
    if (path.contains(u'\r') || path.contains(u'\n'))
        return QStringLiteral("the path holds a line break, which the command's lines would "
                              "turn into CR LF");
    if (qb::firstCharacters(path, longestPath).size() != path.size())
        return QStringLiteral("the path is longer than %1 characters, of which the rest would "
                              "be cut off")
            .arg(longestPath);
    return {};
}

} // namespace remote
