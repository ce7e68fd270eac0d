#include "AccountCheck.h"

#include "AccountSession.h"

namespace mailstore {

void testImapAccount(const MailStoreEntry &account, const QString &password,
                     const std::function<bool()> &cancelled)
{
    imapstore::AccountSession session(
        account, [password](const MailStoreEntry &) { return std::optional<QString>(password); },
        cancelled);
    session.mailboxes();
}

} // namespace mailstore
