#pragma once

#include "mailstore/StoreConfig.h"

namespace imapstore {

// Opens an IMAP account as a mail store whose top folder is named after the entry and
// holds the account's folders. The connection is made when a folder is first asked for,
// so an account out of reach does not stop the other stores.
//
// Ids: the store id is "imap://user@host:port"; a folder's entry id is the store id, "//"
// and the server's name of the folder; an email's is its folder's, "::", the folder's
// UIDVALIDITY, "." and the message's UID. A replaced message keeps its id for the
// session.
mailstore::ApplicationFactory accountFactory(const MailStoreEntry &account,
                                             mailstore::PasswordSource passwords);

// Whether entryId names a folder or an email of the account.
bool isEntryIdOf(const MailStoreEntry &account, const QString &entryId);

} // namespace imapstore
