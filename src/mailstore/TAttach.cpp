#include "TAttach.h"

#include "common/Text.h"

QString attachmentType(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString extension = filename.mid(dot + 1);
    if (extension.contains(QLatin1Char('\\')) || extension.contains(QLatin1Char(':')))
        return {};
    return qb::firstCharacters(extension, 10);
}
