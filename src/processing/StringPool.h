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

    // The same, for a text that is mostly the very one given last time (a folder's label
    // for each of its emails): that is known without hashing it.
    class Recent
    {
    public:
        QString pooled(StringPool &pool, const QString &text)
        {
            if (!(text.constData() == m_given.constData() && text.size() == m_given.size())) {
                m_given = text; // kept, so that its memory cannot hold another text meanwhile
                m_pooled = pool.pooled(text);
            }
            return m_pooled;
        }

    private:
        QString m_given;
        QString m_pooled;
    };

private:
    QSet<QString> m_texts;
};
