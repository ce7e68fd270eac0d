#include "Hive.h"

#include "common/Error.h"
#include "common/Text.h"

#include <algorithm>

namespace {

// Key paths and value names are looked up by this form, so that letter case is ignored.
QString lookupForm(const QString &text)
{
    return text.toCaseFolded();
}

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

QByteArray hexBytes(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += ',';
        out += QByteArray::number(uchar(bytes[i]), 16).rightJustified(2, '0');
    }
    return out;
}

bool fitsOnOneLine(const QString &text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 32; });
}

const QString valueTooLarge = QStringLiteral("a value is larger than 1 MiB");

[[noreturn]] void unreadable(int line, const QString &why)
{
    throw qb::Error(QStringLiteral("line %1: %2").arg(line).arg(why));
}

// Reads a quoted string starting at pos (on the opening quote); pos ends past the closing one.
QString readQuoted(const QByteArray &line, qsizetype &pos, int number)
{
    QByteArray bytes;
    if (!qb::readQuoted(line, pos, bytes))
        unreadable(number, QStringLiteral("a quoted text does not end"));
    return QString::fromUtf8(bytes);
}

// Comma-separated bytes in hexadecimal; walks the text instead of splitting it into pieces.
QByteArray readHex(QByteArrayView text, int number)
{
    QByteArray bytes;
    for (qsizetype start = 0; start <= text.size();) {
        qsizetype comma = text.indexOf(',', start);
        if (comma < 0)
            comma = text.size();
        const QByteArrayView digits = text.sliced(start, comma - start).trimmed();
        start = comma + 1;
        if (digits.isEmpty())
            continue;
        bool ok = false;
        const uint byte = digits.toUInt(&ok, 16);
        if (!ok || byte > 255)
            unreadable(number, QStringLiteral("\"%1\" is not a byte in hexadecimal")
                                   .arg(QString::fromUtf8(
                                       digits.first(std::min<qsizetype>(digits.size(), 16)))));
        bytes += char(byte);
    }
    return bytes;
}

QString textOf(QByteArray bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}

RegistryValue readValue(const QByteArray &text, int number)
{
    RegistryValue value;
    if (text.startsWith('"')) {
        qsizetype pos = 0;
        value.text = readQuoted(text, pos, number);
        if (!text.mid(pos).trimmed().isEmpty())
            unreadable(number, QStringLiteral("text follows a quoted value"));
    } else if (text.startsWith("dword:")) {
        bool ok = false;
        value.type = RegistryValue::Type::Dword;
        value.number = text.mid(6).trimmed().toUInt(&ok, 16);
        if (!ok)
            unreadable(number, QStringLiteral("a dword needs eight hexadecimal digits"));
    } else if (text.startsWith("hex(2):")) {
        value.type = RegistryValue::Type::ExpandString;
        value.text = textOf(readHex(QByteArrayView(text).sliced(7), number));
    } else if (text.startsWith("hex(1):")) {
        value.text = textOf(readHex(QByteArrayView(text).sliced(7), number));
    } else if (text.startsWith("hex")) {
        value.type = RegistryValue::Type::Other;
        value.raw = text;
    } else {
        unreadable(number, QStringLiteral("a value must be quoted text, dword: or hex:"));
    }
    return value;
}

// The same test when reading and when changing, so that a hive that was written can
// always be read again.
bool tooLarge(const RegistryValue &value)
{
    switch (value.type) {
    case RegistryValue::Type::String:
    case RegistryValue::Type::ExpandString:
        // A UTF-16 unit is at most three bytes of UTF-8: most texts need no conversion.
        return value.text.size() * 3 > Hive::MaxValueBytes &&
               value.text.toUtf8().size() > Hive::MaxValueBytes;
    case RegistryValue::Type::Dword:
        return false;
    case RegistryValue::Type::Other:
        // Kept as written: three characters for each byte of data.
        return value.raw.size() > 3 * Hive::MaxValueBytes + 16;
    }
    return false;
}

// The lines of a hive file, trimmed; a line ending in "\" goes on in the next one
// (long hex values). Walks the content in place instead of splitting it into a list.
class LineReader
{
public:
    explicit LineReader(const QByteArray &content) : m_content(content) {}

    // False after the last line; number is the line's first line number.
    bool next(QByteArray &line, int &number)
    {
        if (m_pos > m_content.size())
            return false;
        number = m_number + 1;
        line = take().trimmed();
        // Judged on the trimmed line, so that no value read ends in "\" to be taken
        // for a line that goes on once written. At the end of the file nothing follows.
        while (line.endsWith('\\') && !line.startsWith('[')) {
            line.chop(1);
            if (m_pos <= m_content.size())
                line += take().trimmed();
            line = line.trimmed();
        }
        return true;
    }

private:
    QByteArray take()
    {
        qsizetype end = m_content.indexOf('\n', m_pos);
        if (end < 0)
            end = m_content.size();
        const QByteArray line = m_content.mid(m_pos, end - m_pos);
        m_pos = end + 1;
        ++m_number;
        return line;
    }

    const QByteArray &m_content;
    qsizetype m_pos = 0;
    int m_number = 0;
};

} // namespace

Hive Hive::parse(const QByteArray &content)
{
    if (content.size() > MaxFileBytes)
        throw qb::Error(QStringLiteral("the file is larger than 16 MiB"));
    Hive hive;
    LineReader lines(content);
    QByteArray line;
    int number = 0;
    Key *current = nullptr;
    bool header = false;
    while (lines.next(line, number)) {
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (!header) {
            if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00")
                unreadable(number, QStringLiteral("the file does not start with REGEDIT4"));
            header = true;
            continue;
        }
        if (line.startsWith('[')) {
            if (!line.endsWith(']'))
                unreadable(number, QStringLiteral("a key's name does not end with \"]\""));
            try {
                current = &hive.findOrCreate(QString::fromUtf8(line.mid(1, line.size() - 2)));
            } catch (const qb::Error &e) {
                unreadable(number, e.message());
            }
            continue;
        }
        if (!current)
            unreadable(number, QStringLiteral("a value comes before any key"));
        QString name;
        qsizetype pos = 0;
        if (line.startsWith('@')) {
            pos = 1;
        } else if (line.startsWith('"')) {
            name = readQuoted(line, pos, number);
        } else {
            unreadable(number, QStringLiteral("a value's name must be quoted"));
        }
        if (pos >= line.size() || line[pos] != '=')
            unreadable(number, QStringLiteral("\"=\" is missing after the value's name"));
        const RegistryValue value = readValue(line.mid(pos + 1).trimmed(), number);
        if (tooLarge(value))
            unreadable(number, valueTooLarge);
        // current stays valid: keys are only added when a "[" line comes.
        put(*current, name, value);
    }
    return hive;
}

QByteArray Hive::serialize() const
{
    QByteArray out = "REGEDIT4\n";
    for (const Key &key : m_keys) {
        out += "\n[" + key.path.toUtf8() + "]\n";
        for (const auto &[name, value] : key.values) {
            out += name.isEmpty() ? QByteArray("@") : quoted(name);
            out += '=';
            switch (value.type) {
            case RegistryValue::Type::String:
                out += fitsOnOneLine(value.text) ? quoted(value.text)
                                                 : "hex(1):" + hexBytes(value.text.toUtf8() + '\0');
                break;
            case RegistryValue::Type::ExpandString:
                out += "hex(2):" + hexBytes(value.text.toUtf8() + '\0');
                break;
            case RegistryValue::Type::Dword:
                out += "dword:" + QByteArray::number(value.number, 16).rightJustified(8, '0');
                break;
            case RegistryValue::Type::Other:
                out += value.raw;
                break;
            }
            out += '\n';
        }
    }
    return out;
}

Hive::Key *Hive::find(const QString &path)
{
    const auto found = m_index.constFind(lookupForm(path));
    return found == m_index.cend() ? nullptr : &m_keys[*found];
}

const Hive::Key *Hive::find(const QString &path) const
{
    const auto found = m_index.constFind(lookupForm(path));
    return found == m_index.cend() ? nullptr : &m_keys[*found];
}

Hive::Key &Hive::findOrCreate(const QString &path)
{
    if (Key *key = find(path))
        return *key;
    // As in the registry, a key's parents exist with it: every "\" after the first
    // character ends a parent's path. Checked whole before anything is created.
    QList<qsizetype> ends;
    qsizetype levelStart = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && (path[i] != QLatin1Char('\\') || i == 0))
            continue;
        if (i - levelStart > MaxLevelLength)
            throw qb::Error(
                QStringLiteral("a level of a key's name is longer than 255 characters"));
        ends << i;
        levelStart = i + 1;
        if (ends.size() > MaxKeyLevels)
            throw qb::Error(QStringLiteral("a key has more than 64 levels"));
    }
    qsizetype parent = -1;
    for (const qsizetype end : ends) {
        const QString prefix = path.left(end);
        const QString folded = lookupForm(prefix);
        const auto found = m_index.constFind(folded);
        if (found != m_index.cend()) {
            parent = *found;
            continue;
        }
        const qsizetype position = m_keys.size();
        m_keys.append({prefix, {}, {}, {}});
        m_index.insert(folded, position);
        if (parent >= 0)
            m_keys[parent].children << position;
        parent = position;
    }
    return m_keys[parent];
}

void Hive::reindex()
{
    m_index.clear();
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        m_keys[i].children.clear();
        m_index.insert(lookupForm(m_keys[i].path), i);
    }
    // A parent comes before its children, so it is indexed by the time they are reached.
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        const QString &path = m_keys[i].path;
        const qsizetype parentEnd = path.lastIndexOf(QLatin1Char('\\'));
        if (parentEnd <= 0)
            continue;
        const auto parent = m_index.constFind(lookupForm(path.left(parentEnd)));
        if (parent != m_index.cend())
            m_keys[*parent].children << i;
    }
}

bool Hive::hasKey(const QString &path) const
{
    return find(path) != nullptr;
}

void Hive::createKey(const QString &path)
{
    findOrCreate(path);
}

bool Hive::removeKey(const QString &path)
{
    const auto found = m_index.constFind(lookupForm(path));
    if (found == m_index.cend())
        return false;
    QList<bool> removed(m_keys.size(), false);
    QList<qsizetype> pending{*found};
    while (!pending.isEmpty()) {
        const qsizetype next = pending.takeLast();
        removed[next] = true;
        pending << m_keys[next].children;
    }
    QList<Key> kept;
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        if (!removed[i])
            kept << std::move(m_keys[i]);
    }
    m_keys = std::move(kept);
    reindex();
    return true;
}

QStringList Hive::subKeys(const QString &path) const
{
    QStringList names;
    if (const Key *key = find(path)) {
        for (const qsizetype child : key->children) {
            const QString name = m_keys[child].path.mid(key->path.size() + 1);
            if (!name.isEmpty())
                names << name;
        }
    }
    return names;
}

const RegistryValue *Hive::value(const QString &path, const QString &name) const
{
    const Key *key = find(path);
    if (!key)
        return nullptr;
    const auto found = key->valueIndex.constFind(lookupForm(name));
    return found == key->valueIndex.cend() ? nullptr : &key->values[*found].second;
}

void Hive::setValue(const QString &path, const QString &name, const RegistryValue &value)
{
    if (tooLarge(value))
        throw qb::Error(valueTooLarge);
    put(findOrCreate(path), name, value);
}

void Hive::put(Key &key, const QString &name, RegistryValue value)
{
    // A text ends at its first NUL, as it does when read back from its hex form.
    if (value.type == RegistryValue::Type::String ||
        value.type == RegistryValue::Type::ExpandString) {
        const qsizetype nul = value.text.indexOf(QChar(u'\0'));
        if (nul >= 0)
            value.text.truncate(nul);
    }
    const QString folded = lookupForm(name);
    const auto existing = key.valueIndex.constFind(folded);
    if (existing != key.valueIndex.cend()) {
        key.values[*existing].second = std::move(value);
        return;
    }
    key.valueIndex.insert(folded, key.values.size());
    key.values.append({name, std::move(value)});
}

bool Hive::removeValue(const QString &path, const QString &name)
{
    Key *key = find(path);
    if (!key)
        return false;
    const auto found = key->valueIndex.constFind(lookupForm(name));
    if (found == key->valueIndex.cend())
        return false;
    key->values.removeAt(*found);
    key->valueIndex.clear();
    for (qsizetype i = 0; i < key->values.size(); ++i)
        key->valueIndex.insert(lookupForm(key->values[i].first), i);
    return true;
}
