#pragma once

#include <QList>
#include <QString>

class TRegistry;

// The recently used settings files, most recent first, at most ten. Adding a path
// already listed (in any letter case) moves that entry to the top as it was written.
class TRecentStrings
{
public:
    struct Entry
    {
        QString text;
        qint32 userData = 0;
    };

    static constexpr int Capacity = 10;

    void addRecent(const QString &path, qint32 userData = 0);
    void clear() { m_entries.clear(); }
    const QList<Entry> &entries() const { return m_entries; }

    // "Item_0" to "Item_9" under key, relative to HKEY_CURRENT_USER; a value that is
    // not text is skipped as if missing.
    void loadFromRegistry(const QString &key);
    // Replaces the key's values with the list; writes the hive file once.
    void saveToRegistry(const QString &key) const;
    // The same into an open batch of registry, which the caller commits.
    void saveToRegistry(TRegistry &registry, const QString &key) const;

    // A submenu entry's caption: "&", the accelerator (1 to 9, then A, B, ...), a tab
    // and the text before the first "|". Its hint: the text after the first "|", or all.
    static QString caption(int index, const QString &text);
    static QString hint(const QString &text);

private:
    QList<Entry> m_entries;
};
