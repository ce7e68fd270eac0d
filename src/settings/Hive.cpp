#include "Hive.h"

#include "common/Error.h"

namespace {

bool samePath(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
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

[[noreturn]] void unreadable(int line, const QString &why)
{
    throw qb::Error(QStringLiteral("line %1: %2").arg(line).arg(why));
}

// Reads a quoted string starting at pos (on the opening quote); pos ends past the closing one.
QString readQuoted(const QByteArray &line, qsizetype &pos, int number)
{
    QByteArray bytes;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] == '\\' && pos + 1 < line.size())
            ++pos;
        bytes += line[pos];
    }
    if (pos >= line.size())
        unreadable(number, QStringLiteral("a quoted text does not end"));
    ++pos;
    return QString::fromUtf8(bytes);
}

QByteArray readHex(const QByteArray &text, int number)
{
    QByteArray bytes;
    for (const QByteArray &item : text.split(',')) {
        const QByteArray digits = item.trimmed();
        if (digits.isEmpty())
            continue;
        bool ok = false;
        const uint byte = digits.toUInt(&ok, 16);
        if (!ok || byte > 255)
            unreadable(number, QStringLiteral("\"%1\" is not a byte in hexadecimal")
                                   .arg(QString::fromLatin1(digits)));
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
        value.text = textOf(readHex(text.mid(7), number));
    } else if (text.startsWith("hex(1):")) {
        value.text = textOf(readHex(text.mid(7), number));
    } else if (text.startsWith("hex")) {
        value.type = RegistryValue::Type::Other;
        value.raw = text;
    } else {
        unreadable(number, QStringLiteral("a value must be quoted text, dword: or hex:"));
    }
    return value;
}

} // namespace

Hive Hive::parse(const QByteArray &content)
{
    Hive hive;
    QList<QByteArray> lines = content.split('\n');
    Key *current = nullptr;
    bool header = false;
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        // A line ending in "\" goes on in the next one (long hex values).
        while (line.endsWith('\\') && !line.startsWith('[') && i + 1 < lines.size()) {
            line.chop(1);
            QByteArray next = lines[++i].trimmed();
            line += next;
        }
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(';'))
            continue;
        if (!header) {
            if (trimmed != "REGEDIT4" && trimmed != "Windows Registry Editor Version 5.00")
                unreadable(number, QStringLiteral("the file does not start with REGEDIT4"));
            header = true;
            continue;
        }
        if (trimmed.startsWith('[')) {
            if (!trimmed.endsWith(']'))
                unreadable(number, QStringLiteral("a key's name does not end with \"]\""));
            const QString path = QString::fromUtf8(trimmed.mid(1, trimmed.size() - 2));
            hive.createKey(path);
            current = hive.find(path);
            continue;
        }
        if (!current)
            unreadable(number, QStringLiteral("a value comes before any key"));
        QString name;
        qsizetype pos = 0;
        if (trimmed.startsWith('@')) {
            pos = 1;
        } else if (trimmed.startsWith('"')) {
            name = readQuoted(trimmed, pos, number);
        } else {
            unreadable(number, QStringLiteral("a value's name must be quoted"));
        }
        if (pos >= trimmed.size() || trimmed[pos] != '=')
            unreadable(number, QStringLiteral("\"=\" is missing after the value's name"));
        hive.setValue(current->path, name, readValue(trimmed.mid(pos + 1).trimmed(), number));
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
    for (Key &key : m_keys) {
        if (samePath(key.path, path))
            return &key;
    }
    return nullptr;
}

const Hive::Key *Hive::find(const QString &path) const
{
    for (const Key &key : m_keys) {
        if (samePath(key.path, path))
            return &key;
    }
    return nullptr;
}

bool Hive::hasKey(const QString &path) const
{
    return find(path) != nullptr;
}

void Hive::createKey(const QString &path)
{
    // As in the registry, a key's parents exist with it.
    const qsizetype parentEnd = path.lastIndexOf(QLatin1Char('\\'));
    if (parentEnd > 0)
        createKey(path.left(parentEnd));
    if (!find(path))
        m_keys.append({path, {}});
}

bool Hive::removeKey(const QString &path)
{
    const QString below = path + QLatin1Char('\\');
    const qsizetype before = m_keys.size();
    m_keys.removeIf([&](const Key &key) {
        return samePath(key.path, path) || key.path.startsWith(below, Qt::CaseInsensitive);
    });
    return m_keys.size() != before;
}

QStringList Hive::subKeys(const QString &path) const
{
    const QString below = path + QLatin1Char('\\');
    QStringList names;
    for (const Key &key : m_keys) {
        if (!key.path.startsWith(below, Qt::CaseInsensitive))
            continue;
        const QString name = key.path.mid(below.size()).section(QLatin1Char('\\'), 0, 0);
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    }
    return names;
}

const RegistryValue *Hive::value(const QString &path, const QString &name) const
{
    const Key *key = find(path);
    if (!key)
        return nullptr;
    for (const auto &[valueName, value] : key->values) {
        if (samePath(valueName, name))
            return &value;
    }
    return nullptr;
}

void Hive::setValue(const QString &path, const QString &name, const RegistryValue &value)
{
    createKey(path);
    Key *key = find(path);
    for (auto &[valueName, existing] : key->values) {
        if (samePath(valueName, name)) {
            existing = value;
            return;
        }
    }
    key->values.append({name, value});
}

bool Hive::removeValue(const QString &path, const QString &name)
{
    Key *key = find(path);
    if (!key)
        return false;
    return key->values.removeIf([&](const auto &entry) { return samePath(entry.first, name); }) > 0;
}
