#pragma once

#include "mailstore/StoreConfig.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class KeyringPasswords;

// The passwords of the IMAP accounts for this session, in memory only. The windows fill
// it on the main thread; the threads that open the stores read it through source(). A
// copy is a handle to the same passwords. It also knows which stores the session opens
// (the program's store arguments) and the keyring that keeps passwords between sessions.
class StorePasswords
{
public:
    // keyring: the desktop's keyring when null.
    explicit StorePasswords(QStringList storeArguments = {},
                            std::shared_ptr<KeyringPasswords> keyring = {});

    // "user@host:port", the host in lower case: what identifies an account's password.
    static QString accountKey(const MailStoreEntry &account);

    void set(const MailStoreEntry &account, const QString &password);
    std::optional<QString> password(const MailStoreEntry &account) const;
    void forget(const MailStoreEntry &account);

    // The passwords for mailstore::configuredStores; safe to call from any thread, and
    // it keeps the passwords alive as long as it lives. Called on the main thread for a
    // password it does not hold, it asks the asker, if one is set.
    mailstore::PasswordSource source() const;
    // What source() asks on the main thread when an account's folders are opened there
    // (the folder chooser) without a password; none when empty.
    void setAsker(std::function<std::optional<QString>(const MailStoreEntry &account)> asker);

    // The IMAP accounts among the stores the session opens (mailstore::chosenStores).
    // Throws qb::MailStoreError for a store argument that cannot be read.
    QList<MailStoreEntry> accountsToOpen() const;

    // On the main thread only.
    KeyringPasswords &keyring() const { return *m_keyring; }

private:
    struct Vault;
    std::shared_ptr<Vault> m_vault;
    QStringList m_storeArguments;
    std::shared_ptr<KeyringPasswords> m_keyring;
};
