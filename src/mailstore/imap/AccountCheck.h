#pragma once

#include "settings/MailStoreEntries.h"

#include <functional>

namespace mailstore {

// Connects to the account, logs in and lists its folders, as opening it as a store would.
// Returns when all of that works; throws what failed (imap/ImapError.h: a certificate that
// does not verify, a refused login, a server out of reach), or imap::Cancelled.
void testImapAccount(const MailStoreEntry &account, const QString &password,
                     const std::function<bool()> &cancelled);

} // namespace mailstore
