#pragma once

#include "mailstore/StoreConfig.h"

#include <QStringList>

namespace cli {

// The passwords of the IMAP accounts among stores, gathered before any store opens: the
// first line of passwordFile when one is given (the same for every account), else asked
// for on the terminal without echo. Throws qb::Error when a password is needed and cannot
// be had (an unreadable file, no terminal to ask on).
mailstore::PasswordSource accountPasswords(const QList<MailStoreEntry> &stores,
                                           const QString &passwordFile);

} // namespace cli
