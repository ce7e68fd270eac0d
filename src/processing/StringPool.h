#pragma once

#include <QSet>
#include <QString>

// Hands out one shared copy of each distinct text, so that a million records
// naming a few hundred senders, folders and types hold a few hundred strings.
class StringPool
{
public:
    QString pooled(const QString &text)
    {
        const auto found = m_texts.constFind(text);
        if (found != m_texts.cend())
            return *found;
        m_texts.insert(text);
        return text;
    }

private:
    QSet<QString> m_texts;
};
