#pragma once

#include <QByteArray>
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
class Hive
{
public:
    // Throws qb::Error naming the line that cannot be read.
    static Hive parse(const QByteArray &content);
    QByteArray serialize() const;

    bool hasKey(const QString &path) const;
    void createKey(const QString &path);
    // Removes the key and everything below it; false when there was none.
    bool removeKey(const QString &path);
    // The names of the keys directly below path.
    QStringList subKeys(const QString &path) const;

    const RegistryValue *value(const QString &path, const QString &name) const;
    void setValue(const QString &path, const QString &name, const RegistryValue &value);
    bool removeValue(const QString &path, const QString &name);

private:
    struct Key
    {
        QString path;
        QList<QPair<QString, RegistryValue>> values;
    };
    Key *find(const QString &path);
    const Key *find(const QString &path) const;

    QList<Key> m_keys;
};
