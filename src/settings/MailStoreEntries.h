#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The mail stores the user has configured, kept in the registry under the program
// key's "Mail stores": one subkey per store, named after the store, with the value
// "Type" ("maildir" or "imap") and, for a Maildir, "Path"; for an IMAP account,
// "Host", "Port", "Security" ("tls", "starttls" or "plain") and "User", and
// "Trusted certificate" when the user chose to trust a server certificate that
// fails verification (its SHA-256, hexadecimal). Passwords are never kept here.
struct MailStoreEntry
{
    enum class Type { Maildir, Imap };
    enum class Security { Tls, StartTls, Plain };

    QString name;
    Type type = Type::Maildir;
    QString path; // Maildir
    QString host; // IMAP
    quint16 port = 993;
    Security security = Security::Tls;
    QString user;
    QByteArray trustedFingerprint; // raw SHA-256, empty when none

    static quint16 defaultPort(Security security);
    // "user@host", with ":port" when the port is not the security's default.
    QString accountText() const;
    // "user@host:port", the host in lower case: what identifies an account's password.
    QString passwordKey() const;
    bool operator==(const MailStoreEntry &other) const = default;
};

// A store's name is a registry key and the top folder's name in folder paths: not
// blank, without "\\", at most 255 characters.
bool isValidStoreName(const QString &name);

QString securityName(MailStoreEntry::Security security);
// Unknown names read as TLS: a typo never turns encryption off.
MailStoreEntry::Security securityFromName(const QString &name);

// The configured stores in the order of their names; entries that lack what their
// type needs (a Maildir without a path, an account without a host or user) are left out.
QList<MailStoreEntry> readMailStoreEntries();
// Replaces the configured stores with these, in one change of the registry.
// Throws qb::Error when a name is not valid or the registry cannot be written; the
// registry is then left as it was.
void writeMailStoreEntries(const QList<MailStoreEntry> &entries);
