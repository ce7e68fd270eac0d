#include "TerminalText.h"

#include "common/Text.h"

namespace cli {

namespace {

// How many characters a character shows as.
qsizetype shownWidth(QChar first)
{
    return isControl(first) ? 4 : 1;
}

// Appends the character at position i as it is shown.
void appendShown(QString &out, QStringView text, qsizetype i, qsizetype units)
{
    if (isControl(text[i]))
        out += QStringLiteral("\\x") +
               QStringLiteral("%1").arg(text[i].unicode(), 2, 16, QLatin1Char('0')).toUpper();
    else
        out += text.mid(i, units);
}

// Whether text, shown, has more than maxChars characters.
bool overflows(QStringView text, qsizetype maxChars)
{
    qsizetype shown = 0;
    for (qsizetype i = 0; i < text.size(); i += qb::unitsAt(text, i)) {
        shown += shownWidth(text[i]);
        if (shown > maxChars)
            return true;
    }
    return false;
}

} // namespace

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
}

QString terminalSafe(QStringView text, qsizetype maxChars)
{
    const bool cut = maxChars >= 0 && overflows(text, maxChars);
    const qsizetype room = !cut ? -1 : qMax<qsizetype>(maxChars - 1, 0); // "…" takes one
    QString safe;
    safe.reserve(room < 0 ? text.size() : room + 1);
    qsizetype shown = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype units = qb::unitsAt(text, i);
        shown += shownWidth(text[i]);
        if (room >= 0 && shown > room)
            break;
        appendShown(safe, text, i, units);
        i += units;
    }
    if (cut && maxChars > 0)
        safe += QChar(0x2026);
    return safe;
}

qsizetype characterCount(QStringView text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); i += qb::unitsAt(text, i))
        ++count;
    return count;
}

} // namespace cli
