#include "StorePasswords.h"

#include "KeyringPasswords.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>
#include <QThread>

struct StorePasswords::Vault
{
    QMutex mutex;
    QHash<QString, QString> passwords;
    std::function<std::optional<QString>(const MailStoreEntry &)> asker;

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
    return [vault = m_vault](const MailStoreEntry &account) -> std::optional<QString> {
        if (std::optional<QString> known = vault->find(accountKey(account)))
            return known;
        // Only the main thread may ask the user: a store's thread is told there is none.
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            return std::nullopt;
        std::function<std::optional<QString>(const MailStoreEntry &)> asker;
        {
            const QMutexLocker lock(&vault->mutex);
            asker = vault->asker;
        }
        return asker ? asker(account) : std::nullopt;
    };
}

void StorePasswords::setAsker(std::function<std::optional<QString>(const MailStoreEntry &)> asker)
{
    const QMutexLocker lock(&m_vault->mutex);
    m_vault->asker = std::move(asker);
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
