#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A value of the registry: text (REG_SZ), text with variables (REG_EXPAND_SZ) or a
// 32-bit number (REG_DWORD). Other kinds met in a hive file are kept as they were
// written and read as no value of the three.
struct RegistryValue
{
    enum class Type { String, ExpandString, Dword, Other };
    Type type = Type::String;
    QString text;
    quint32 number = 0;
    QByteArray raw; // an Other value's text after "="
};

// One hive file in memory, in the regedit text format: a "REGEDIT4" line, then
// "[full key path]" sections with "name"=value lines. Key paths and value names
// ignore letter case and keep the case they were first written with.
//
// A hive file is read at every start, so a hostile one must not exhaust the program:
// keys and values are found through hashes, and the sizes below are limits, beyond
// which reading and changing fail with qb::Error.
class Hive
{
public:
    static constexpr int MaxKeyLevels = 64;             // levels of a full key path
    static constexpr qsizetype MaxLevelLength = 255;    // characters of one level's name
    static constexpr qsizetype MaxValueBytes = 1 << 20; // a value's data (UTF-8 for texts)
    static constexpr qsizetype MaxFileBytes = 16 << 20;

    // Throws qb::Error naming the line that cannot be read, or the limit passed.
    static Hive parse(const QByteArray &content);
    QByteArray serialize() const;

    bool hasKey(const QString &path) const;
    // Creates the key and its parents; throws qb::Error when the path passes a limit.
    void createKey(const QString &path);
    // Removes the key and everything below it; false when there was none.
    bool removeKey(const QString &path);
    // The names of the keys directly below path.
    QStringList subKeys(const QString &path) const;

    const RegistryValue *value(const QString &path, const QString &name) const;
    // Creates the key as createKey does; throws qb::Error when the value is too large.
    void setValue(const QString &path, const QString &name, const RegistryValue &value);
    bool removeValue(const QString &path, const QString &name);

private:
    struct Key
    {
        QString path;
        QList<QPair<QString, RegistryValue>> values;
        QHash<QString, qsizetype> valueIndex; // case-folded name: position in values
        QList<qsizetype> children;            // positions in m_keys, in creation order
    };
    Key *find(const QString &path);
    const Key *find(const QString &path) const;
    Key &findOrCreate(const QString &path);
    static void put(Key &key, const QString &name, RegistryValue value);
    void reindex();

    QList<Key> m_keys;                 // in creation order: a parent before its children
    QHash<QString, qsizetype> m_index; // case-folded full path: position in m_keys
};
