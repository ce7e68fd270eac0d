#include "TerminalText.h"

namespace cli {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
}

QString terminalSafe(QStringView text)
{
    QString safe;
    safe.reserve(text.size());
    // Every control is a single UTF-16 unit, so surrogate pairs pass through whole.
    for (const QChar c : text) {
        if (isControl(c))
            safe += QStringLiteral("\\x") +
                    QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            safe += c;
    }
    return safe;
}

} // namespace cli
