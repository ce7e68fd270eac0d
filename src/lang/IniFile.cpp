#include "IniFile.h"

namespace {

// Letter case is ignored for ASCII and for other UTF-8 text alike.
bool sameName(const QByteArray &a, const QByteArray &b)
{
    return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

} // namespace

template <class Sections> auto IniFile::findSection(Sections &sections, const QByteArray &name)
{
    decltype(&sections.first()) found = nullptr;
    for (auto &section : sections) {
        if (!found && sameName(section.name, name))
            found = &section;
    }
    return found;
}

template <class Owner> auto IniFile::findEntry(Owner &section, const QByteArray &key)
{
    decltype(&section.entries.first()) found = nullptr;
    for (auto &entry : section.entries) {
        if (!found && sameName(entry.key, key))
            found = &entry;
    }
    return found;
}

IniFile IniFile::parse(const QByteArray &content)
{
    IniFile ini;
    Section *current = nullptr;
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            const QByteArray name = line.mid(1, line.size() - 2);
            current = findSection(ini.m_sections, name);
            if (!current) {
                ini.m_sections.append({name, {}});
                current = &ini.m_sections.last();
            }
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!current || equals < 0)
            continue;
        const QByteArray key = line.left(equals);
        if (!findEntry(*current, key))
            current->entries.append({key, line.mid(equals + 1)});
    }
    return ini;
}

QByteArray IniFile::serialize() const
{
    QByteArray out;
    for (const Section &section : m_sections) {
        out += '[' + section.name + "]\r\n";
        for (const Entry &entry : section.entries)
            out += entry.key + '=' + entry.value + "\r\n";
        out += "\r\n";
    }
    return out;
}

bool IniFile::contains(const QByteArray &section, const QByteArray &key) const
{
    const auto *found = findSection(m_sections, section);
    return found && findEntry(*found, key);
}

QByteArray IniFile::value(const QByteArray &section, const QByteArray &key) const
{
    const auto *found = findSection(m_sections, section);
    const auto *entry = found ? findEntry(*found, key) : nullptr;
    return entry ? entry->value : QByteArray();
}

void IniFile::setValue(const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    Section *target = findSection(m_sections, section);
    if (!target) {
        m_sections.append({section, {}});
        target = &m_sections.last();
    }
    if (Entry *entry = findEntry(*target, key))
        entry->value = value;
    else
        target->entries.append({key, value});
}
