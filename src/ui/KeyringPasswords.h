#pragma once

#include "settings/MailStoreEntries.h"

#include <QString>

#include <optional>

// The passwords the user asked to remember, in the desktop's keyring (the Secret Service
// or KWallet, through QtKeychain), under the service "Quillbrook" and the key
// "imap:user@host:port". Each call waits for the keyring on the main thread, where the
// keyring may ask the user to unlock it. When no keyring answers, the reason is kept and
// later calls do not try again this session: passwords are then asked for each session.
class KeyringPasswords
{
public:
    KeyringPasswords() = default;
    virtual ~KeyringPasswords() = default;
    KeyringPasswords(const KeyringPasswords &) = delete;
    KeyringPasswords &operator=(const KeyringPasswords &) = delete;

    static QString keyOf(const MailStoreEntry &account);

    // The kept password; nothing when none is kept or no keyring answers.
    virtual std::optional<QString> read(const MailStoreEntry &account);
    // Throws qb::Error saying why when the password cannot be kept.
    virtual void write(const MailStoreEntry &account, const QString &password);
    // Removes the kept password, if any; without a keyring there is none to remove.
    // Throws qb::Error when the keyring refuses.
    virtual void remove(const MailStoreEntry &account);

    // Why passwords cannot be remembered this session, or empty while they can (as far
    // as is known: nothing has failed yet).
    QString unavailableReason() const { return m_unavailable; }

protected:
    void setUnavailable(const QString &reason) { m_unavailable = reason; }

private:
    QString m_unavailable;
};
