#include "TAttach.h"

QString attachmentType(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString extension = filename.mid(dot + 1);
    if (extension.contains(QLatin1Char('\\')) || extension.contains(QLatin1Char(':')))
        return {};
    // Count characters, not UTF-16 units, so a surrogate pair is never split.
    qsizetype end = 0;
    for (int kept = 0; kept < 10 && end < extension.size(); ++kept)
        end += extension.at(end).isHighSurrogate() && end + 1 < extension.size() ? 2 : 1;
    return extension.left(end);
}
