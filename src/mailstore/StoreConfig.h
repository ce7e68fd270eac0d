#pragma once

#include "MailStore.h"
#include "settings/MailStoreEntries.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace mailstore {

// The Maildir used when none is configured: $MAILDIR, else ~/Maildir.
QString defaultMaildir();

// Lists the default Maildir among the configured stores when none is configured yet and
// it exists, so that it stays beside the accounts the user adds until the user removes
// it. Returns whether it was listed. Throws qb::Error when the registry cannot be written.
bool listDefaultMaildir();

// The Maildirs configured in the registry (MailStoreEntries.h).
QStringList registeredMaildirs();

// Whether analysis keeps what it read of the emails for the next time.
enum class SummaryCaching { Kept, Off };

// The password of an IMAP account, or nothing when the user gave none. Called on the
// threads that open the stores, so it must be safe to call from any thread.
using PasswordSource = std::function<std::optional<QString>(const MailStoreEntry &account)>;

// What one store argument names: a configured store's name, an IMAP account given as
// "imap://user@host[:port]" (STARTTLS, port 143) or "imaps://user@host[:port]" (TLS,
// port 993), else a Maildir's path. Throws qb::MailStoreError for an account address
// that cannot be read.
MailStoreEntry storeFromArgument(const QString &argument);

// The stores to open: those named by the arguments, or with none the configured ones,
// or with none of those the default Maildir.
QList<MailStoreEntry> chosenStores(const QStringList &arguments);

// Opens the stores named by the arguments (storeFromArgument), or with none the
// configured ones, else the default Maildir, as one mail store; read again each time
// an application is made, so a store added meanwhile is there. What analysis reads of
// Maildir emails is kept in the user's cache folder unless caching is Off. IMAP
// accounts get their passwords from passwords.
ApplicationFactory configuredStores(const QStringList &arguments,
                                    SummaryCaching caching = SummaryCaching::Kept,
                                    PasswordSource passwords = {});

} // namespace mailstore
