#include "TRecentStrings.h"

#include "TRegistry.h"

void TRecentStrings::addRecent(const QString &path, qint32 userData)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].text.compare(path, Qt::CaseInsensitive) == 0) {
            m_entries.move(i, 0);
            return;
        }
    }
    m_entries.prepend({path, userData});
    while (m_entries.size() > Capacity)
        m_entries.removeLast();
}

void TRecentStrings::loadFromRegistry(const QString &key)
{
    clear();
    TRegistry registry;
    if (!registry.OpenKey(key, false))
        return;
    for (int i = Capacity - 1; i >= 0; --i) {
        const QString text = readStringOr(registry, QStringLiteral("Item_%1").arg(i), QString());
        const qint32 userData =
            readStringOr(registry, QStringLiteral("User_%1").arg(i), QStringLiteral("0")).toInt();
        if (!text.isEmpty())
            addRecent(text, userData);
    }
}

void TRecentStrings::saveToRegistry(const QString &key) const
{
    TRegistry registry;
    registry.beginBatch();
    saveToRegistry(registry, key);
    registry.commit();
}

void TRecentStrings::saveToRegistry(TRegistry &registry, const QString &key) const
{
    registry.DeleteKey(key);
    if (m_entries.isEmpty() || !registry.OpenKey(key, true))
        return;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        registry.WriteString(QStringLiteral("Item_%1").arg(i), m_entries[i].text);
        registry.DeleteValue(QStringLiteral("User_%1").arg(i));
    }
}

QString TRecentStrings::caption(int index, const QString &text)
{
    const int number = index + 1;
    const QChar accelerator = number <= 9 ? QChar(u'0' + number) : QChar(u'A' + (number - 10));
    return QLatin1Char('&') + accelerator + QLatin1Char('\t') +
           text.section(QLatin1Char('|'), 0, 0);
}

QString TRecentStrings::hint(const QString &text)
{
    const qsizetype bar = text.indexOf(QLatin1Char('|'));
    return bar < 0 ? text : text.mid(bar + 1);
}
