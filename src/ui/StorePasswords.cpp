#include "StorePasswords.h"

#include "KeyringPasswords.h"

#include <QHash>
#include <QMutex>

struct StorePasswords::Vault
{
    QMutex mutex;
    QHash<QString, QString> passwords;

    std::optional<QString> find(const QString &key)
    {
        const QMutexLocker lock(&mutex);
        const auto found = passwords.constFind(key);
        if (found == passwords.cend())
            return std::nullopt;
        return *found;
    }
};

StorePasswords::StorePasswords(QStringList storeArguments,
                               std::shared_ptr<KeyringPasswords> keyring)
    : m_vault(std::make_shared<Vault>()), m_storeArguments(std::move(storeArguments)),
      m_keyring(keyring ? std::move(keyring) : std::make_shared<KeyringPasswords>())
{
}

QString StorePasswords::accountKey(const MailStoreEntry &account)
{
    return account.passwordKey();
}

void StorePasswords::set(const MailStoreEntry &account, const QString &password)
{
    const QMutexLocker lock(&m_vault->mutex);
    m_vault->passwords.insert(accountKey(account), password);
}

std::optional<QString> StorePasswords::password(const MailStoreEntry &account) const
{
    return m_vault->find(accountKey(account));
}

void StorePasswords::forget(const MailStoreEntry &account)
{
    const QMutexLocker lock(&m_vault->mutex);
    m_vault->passwords.remove(accountKey(account));
}

mailstore::PasswordSource StorePasswords::source() const
{
    // Shares the vault (not the keyring, which belongs to the main thread): it outlives
    // the window that made it while a store's thread still asks.
    return [vault = m_vault](const MailStoreEntry &account) {
        return vault->find(accountKey(account));
    };
}

QList<MailStoreEntry> StorePasswords::accountsToOpen() const
{
    QList<MailStoreEntry> accounts;
    for (const MailStoreEntry &store : mailstore::chosenStores(m_storeArguments)) {
        if (store.type == MailStoreEntry::Type::Imap)
            accounts << store;
    }
    return accounts;
}
