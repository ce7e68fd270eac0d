#include "Text.h"

namespace qb {

qsizetype unitsAt(QStringView text, qsizetype i)
{
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

QString firstCharacters(const QString &text, qsizetype count)
{
    qsizetype end = 0;
    for (qsizetype kept = 0; kept < count && end < text.size(); ++kept)
        end += unitsAt(text, end);
    return text.left(end);
}

bool readQuoted(QByteArrayView text, qsizetype &pos, QByteArray &content)
{
    for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size())
            ++pos;
        content.append(text[pos]);
    }
    if (pos >= text.size())
        return false;
    ++pos; // past the closing quote
    return true;
}

} // namespace qb
