#include "MailStoreEntries.h"

#include "TRegistry.h"
#include "TSettings.h"
#include "common/Error.h"

#include <algorithm>

namespace {

QString storesKey()
{
    return TSettings::valueName(0) + QStringLiteral("\\Mail stores");
}

} // namespace

bool isValidStoreName(const QString &name)
{
    return !name.trimmed().isEmpty() && !name.contains(QLatin1Char('\\')) && name.size() <= 255;
}

quint16 MailStoreEntry::defaultPort(Security security)
{
    return security == Security::Tls ? 993 : 143;
}

QString MailStoreEntry::accountText() const
{
    QString text = user + QLatin1Char('@') + host;
    if (port != defaultPort(security))
        text += QLatin1Char(':') + QString::number(port);
    return text;
}

QString MailStoreEntry::passwordKey() const
{
    return user + QLatin1Char('@') + host.toLower() + QLatin1Char(':') + QString::number(port);
}

QString securityName(MailStoreEntry::Security security)
{
    switch (security) {
    case MailStoreEntry::Security::StartTls:
        return QStringLiteral("starttls");
    case MailStoreEntry::Security::Plain:
        return QStringLiteral("plain");
    case MailStoreEntry::Security::Tls:
        break;
    }
    return QStringLiteral("tls");
}

MailStoreEntry::Security securityFromName(const QString &name)
{
    if (name.compare(QLatin1String("starttls"), Qt::CaseInsensitive) == 0)
        return MailStoreEntry::Security::StartTls;
    if (name.compare(QLatin1String("plain"), Qt::CaseInsensitive) == 0)
        return MailStoreEntry::Security::Plain;
    return MailStoreEntry::Security::Tls;
}

QList<MailStoreEntry> readMailStoreEntries()
{
    TRegistry registry;
    if (!registry.OpenKey(storesKey(), false))
        return {};
    QStringList names = registry.subKeys();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QList<MailStoreEntry> entries;
    for (const QString &name : names) {
        TRegistry store;
        if (!store.OpenKey(storesKey() + QLatin1Char('\\') + name, false))
            continue;
        MailStoreEntry entry;
        entry.name = name;
        const QString type = readStringOr(store, QStringLiteral("Type"), QString());
        if (type.compare(QLatin1String("maildir"), Qt::CaseInsensitive) == 0) {
            entry.type = MailStoreEntry::Type::Maildir;
            entry.path = readStringOr(store, QStringLiteral("Path"), QString());
            if (entry.path.isEmpty())
                continue;
        } else if (type.compare(QLatin1String("imap"), Qt::CaseInsensitive) == 0) {
            entry.type = MailStoreEntry::Type::Imap;
            entry.host = readStringOr(store, QStringLiteral("Host"), QString());
            entry.user = readStringOr(store, QStringLiteral("User"), QString());
            entry.security =
                securityFromName(readStringOr(store, QStringLiteral("Security"), QString()));
            const qint32 port = readIntegerOr(store, QStringLiteral("Port"), 0);
            entry.port = port > 0 && port < 65536 ? quint16(port)
                                                  : MailStoreEntry::defaultPort(entry.security);
            entry.trustedFingerprint = QByteArray::fromHex(
                readStringOr(store, QStringLiteral("Trusted certificate"), QString()).toLatin1());
            if (entry.host.isEmpty() || entry.user.isEmpty())
                continue;
        } else {
            continue;
        }
        entries << entry;
    }
    return entries;
}

void writeMailStoreEntries(const QList<MailStoreEntry> &entries)
{
    // Checked before anything changes: a registry object commits what its batch holds
    // when it goes away, also on an exception.
    for (const MailStoreEntry &entry : entries) {
        if (!isValidStoreName(entry.name))
            throw qb::Error(QStringLiteral("Cannot keep the mail store \"%1\"").arg(entry.name));
    }
    TRegistry registry;
    registry.beginBatch();
    registry.DeleteKey(storesKey());
    for (const MailStoreEntry &entry : entries) {
        if (!registry.OpenKey(storesKey() + QLatin1Char('\\') + entry.name, true))
            continue; // only past the hive's limits, which a valid name does not reach
        if (entry.type == MailStoreEntry::Type::Maildir) {
            registry.WriteString(QStringLiteral("Type"), QStringLiteral("maildir"));
            registry.WriteString(QStringLiteral("Path"), entry.path);
        } else {
            registry.WriteString(QStringLiteral("Type"), QStringLiteral("imap"));
            registry.WriteString(QStringLiteral("Host"), entry.host);
            registry.WriteInteger(QStringLiteral("Port"), entry.port);
            registry.WriteString(QStringLiteral("Security"), securityName(entry.security));
            registry.WriteString(QStringLiteral("User"), entry.user);
            if (!entry.trustedFingerprint.isEmpty()) {
                registry.WriteString(QStringLiteral("Trusted certificate"),
                                     QString::fromLatin1(entry.trustedFingerprint.toHex()));
            }
        }
    }
    registry.commit();
}
