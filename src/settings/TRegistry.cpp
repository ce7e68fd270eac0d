#include "TRegistry.h"

#include "common/Error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {

QString rootName(TRegistry::Root root)
{
    return root == TRegistry::Root::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER")
                                                : QStringLiteral("HKEY_LOCAL_MACHINE");
}

// Holds the hive's lock file while it lives.
class HiveLock
{
public:
    explicit HiveLock(const QString &hive)
    {
        QDir().mkpath(QFileInfo(hive).path());
        m_fd = ::open(QFile::encodeName(hive + QStringLiteral(".lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~HiveLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Reads a hive file; one that cannot be parsed is kept aside, never overwritten.
Hive loadHive(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    try {
        // Enough to tell a file past the limit, without reading all of it.
        return Hive::parse(file.read(Hive::MaxFileBytes + 1));
    } catch (const qb::Error &e) {
        file.close();
        const QString aside =
            path + QStringLiteral(".unreadable-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
        const bool moved = QFile::rename(path, aside);
        const QString message =
            moved ? QStringLiteral(
                        "quillbrook: the settings file %1 cannot be read (%2); it was kept as %3 "
                        "and the settings start from their defaults\n")
                        .arg(path, e.message(), aside)
                  : QStringLiteral(
                        "quillbrook: the settings file %1 cannot be read (%2); the settings start "
                        "from their defaults\n")
                        .arg(path, e.message());
        std::fputs(message.toLocal8Bit().constData(), stderr);
        return {};
    }
}

} // namespace

TRegistry::TRegistry(Root root) : m_root(root), m_path(hivePath(root)) {}

TRegistry::~TRegistry()
{
    try {
        commit();
    } catch (const qb::Error &e) {
        std::fputs(QStringLiteral("quillbrook: the settings file %1 cannot be written (%2)\n")
                       .arg(m_path, e.message())
                       .toLocal8Bit()
                       .constData(),
                   stderr);
    }
}

QString TRegistry::hivePath(Root root)
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/quillbrook/") +
           (root == Root::CurrentUser ? QStringLiteral("user.reg") : QStringLiteral("machine.reg"));
}

QString TRegistry::fullPath(const QString &key) const
{
    QString relative = key;
    while (relative.startsWith(QLatin1Char('\\')))
        relative.remove(0, 1);
    while (relative.endsWith(QLatin1Char('\\')))
        relative.chop(1);
    return relative.isEmpty() ? rootName(m_root) : rootName(m_root) + QLatin1Char('\\') + relative;
}

Hive TRegistry::read() const
{
    Hive hive = loadHive(m_path);
    for (const HeldChange &held : m_held)
        held.change(hive);
    return hive;
}

bool TRegistry::modify(const Change &change)
{
    const HiveLock lock(m_path);
    if (!lock.held())
        return false;
    Hive hive = read();
    if (!change(hive))
        return true;
    QSaveFile file(m_path);
    const QByteArray content = hive.serialize();
    // A file past the reader's limit would be put aside at the next start: keep the old one.
    if (content.size() > Hive::MaxFileBytes)
        return false;
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return false;
    m_hive = hive;
    return true;
}

std::optional<bool> TRegistry::makeChange(Subject subject, const QString &name,
                                          const Change &change)
{
    if (m_batch) {
        const bool changed = change(m_hive);
        m_held.append({subject, name, change});
        return changed;
    }
    bool changed = false;
    if (!modify([&](Hive &hive) { return changed = change(hive); }))
        return std::nullopt;
    return changed;
}

void TRegistry::beginBatch()
{
    m_batch = true;
}

void TRegistry::commit()
{
    if (!m_batch)
        return;
    m_batch = false;
    const QList<HeldChange> held = std::exchange(m_held, {});
    if (held.isEmpty())
        return;
    const bool saved = modify([&](Hive &hive) {
        bool changed = false;
        for (const HeldChange &each : held)
            changed = each.change(hive) || changed;
        return changed;
    });
    if (saved)
        return;
    // Named as a single write would have named it: by the first value, when there is one.
    const auto named = std::find_if(held.begin(), held.end(), [](const HeldChange &each) {
        return each.subject == Subject::Value;
    });
    throw qb::Error(QStringLiteral("Failed to set data for '%1'")
                        .arg(named != held.end() ? named->name : held.first().name));
}

bool TRegistry::OpenKey(const QString &key, bool canCreate)
{
    const QString path = fullPath(key);
    m_hive = read();
    if (!m_hive.hasKey(path)) {
        if (!canCreate)
            return false;
        try {
            const auto created = makeChange(Subject::Key, path, [path](Hive &hive) {
                if (hive.hasKey(path))
                    return false;
                hive.createKey(path);
                return true;
            });
            if (!created)
                return false;
        } catch (const qb::Error &) {
            return false; // a path past the hive's limits
        }
        m_hive.createKey(path);
    }
    m_currentKey = path;
    return true;
}

void TRegistry::CloseKey()
{
    m_currentKey.clear();
}

bool TRegistry::KeyExists(const QString &key) const
{
    return read().hasKey(fullPath(key));
}

QStringList TRegistry::subKeys() const
{
    return m_currentKey.isEmpty() ? QStringList() : m_hive.subKeys(m_currentKey);
}

std::optional<RegistryValue> TRegistry::value(const QString &name) const
{
    if (m_currentKey.isEmpty())
        return std::nullopt;
    const RegistryValue *found = m_hive.value(m_currentKey, name);
    return found ? std::optional<RegistryValue>(*found) : std::nullopt;
}

void TRegistry::write(const QString &name, const RegistryValue &value)
{
    const QString key = m_currentKey;
    bool saved = false;
    try {
        saved = !key.isEmpty() && makeChange(Subject::Value, name, [key, name, value](Hive &hive) {
                                      hive.setValue(key, name, value);
                                      return true;
                                  }).has_value();
    } catch (const qb::Error &) {
        // A value past the hive's limits.
    }
    if (!saved)
        throw qb::Error(QStringLiteral("Failed to set data for '%1'").arg(name));
}

void TRegistry::WriteString(const QString &name, const QString &text)
{
    write(name, {RegistryValue::Type::String, text, 0, {}});
}

void TRegistry::WriteExpandString(const QString &name, const QString &text)
{
    write(name, {RegistryValue::Type::ExpandString, text, 0, {}});
}

void TRegistry::WriteInteger(const QString &name, qint32 number)
{
    write(name, {RegistryValue::Type::Dword, {}, quint32(number), {}});
}

void TRegistry::WriteBool(const QString &name, bool flag)
{
    WriteInteger(name, flag ? 1 : 0);
}

bool TRegistry::DeleteValue(const QString &name)
{
    const QString key = m_currentKey;
    if (key.isEmpty())
        return false;
    return makeChange(Subject::Value, name,
                      [key, name](Hive &hive) { return hive.removeValue(key, name); })
        .value_or(false);
}

bool TRegistry::DeleteKey(const QString &key)
{
    const QString path = fullPath(key);
    return makeChange(Subject::Key, path, [path](Hive &hive) { return hive.removeKey(path); })
        .value_or(false);
}

qint32 readIntegerOr(const TRegistry &registry, const QString &name, qint32 fallback)
{
    const auto value = registry.value(name);
    return value && value->type == RegistryValue::Type::Dword ? qint32(value->number) : fallback;
}

bool readBoolOr(const TRegistry &registry, const QString &name, bool fallback)
{
    const auto value = registry.value(name);
    return value && value->type == RegistryValue::Type::Dword ? value->number != 0 : fallback;
}

QString readStringOr(const TRegistry &registry, const QString &name, const QString &fallback)
{
    const auto value = registry.value(name);
    if (!value || (value->type != RegistryValue::Type::String &&
                   value->type != RegistryValue::Type::ExpandString))
        return fallback;
    return value->text;
}
