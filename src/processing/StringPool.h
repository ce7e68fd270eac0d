#pragma once

#include "mailstore/TAttach.h"

#include <QSet>
#include <QString>

#include <utility>
#include <vector>

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

// The types of attachments' file names, pooled. A store's attachments have few extensions
// between them: the recent ones are recognised without making or hashing a text.
class TypePool
{
public:
    QString typeOf(const QString &filename, StringPool &pool)
    {
        const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
        const QStringView extension = dot < 0 ? QStringView() : QStringView(filename).mid(dot + 1);
        for (const auto &[known, type] : m_recent) {
            if (known == extension)
                return type;
        }
        QString type = pool.pooled(attachmentType(filename));
        std::pair<QString, QString> entry{extension.toString(), type};
        if (m_recent.size() < recentCount)
            m_recent.push_back(std::move(entry));
        else
            m_recent[std::exchange(m_next, (m_next + 1) % recentCount)] = std::move(entry);
        return type;
    }

private:
    static constexpr size_t recentCount = 16;
    std::vector<std::pair<QString, QString>> m_recent; // extension, type
    size_t m_next = 0;
};
