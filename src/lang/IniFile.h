#pragma once

#include <QByteArray>
#include <QList>

// An ini file held in memory: "[section]" lines and "key=value" lines, the value
// being everything after the first "=". Section names and keys ignore letter case
// and keep the case first met; sections and keys keep their order. Empty lines,
// ";" comments and lines before the first section are dropped.
class IniFile
{
public:
    static IniFile parse(const QByteArray &content);
    QByteArray serialize() const;

    bool contains(const QByteArray &section, const QByteArray &key) const;
    QByteArray value(const QByteArray &section, const QByteArray &key) const;
    // Replaces the value, or adds the key at the end of its section (a new section
    // at the end of the file).
    void setValue(const QByteArray &section, const QByteArray &key, const QByteArray &value);

private:
    struct Entry
    {
        QByteArray key;
        QByteArray value;
    };
    struct Section
    {
        QByteArray name;
        QList<Entry> entries;
    };
    // Work for const and non-const owners alike.
    template <class Sections> static auto findSection(Sections &sections, const QByteArray &name);
    template <class Owner> static auto findEntry(Owner &section, const QByteArray &key);

    QList<Section> m_sections;
};
