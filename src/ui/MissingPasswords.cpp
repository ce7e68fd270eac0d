#include "MissingPasswords.h"

#include "KeyringPasswords.h"
#include "PasswordPrompt.h"
#include "PlainText.h"
#include "StorePasswords.h"
#include "common/Error.h"

#include <QApplication>
#include <QMessageBox>

bool provideStorePasswords(StorePasswords &passwords, TStringLoader *loader, QWidget *parent)
{
    QList<MailStoreEntry> accounts;
    try {
        accounts = passwords.accountsToOpen();
    } catch (const qb::Error &e) {
        plainBox(parent, QMessageBox::Critical, QApplication::applicationName(), e.message());
        return false;
    }
    KeyringPasswords &keyring = passwords.keyring();
    for (const MailStoreEntry &account : std::as_const(accounts)) {
        if (passwords.password(account))
            continue;
        if (const std::optional<QString> kept = keyring.read(account)) {
            passwords.set(account, *kept);
            continue;
        }
        PasswordPrompt prompt(account, keyring.unavailableReason(), loader, parent);
        if (prompt.exec() != QDialog::Accepted)
            return false;
        passwords.set(account, prompt.password());
        if (!prompt.remember())
            continue;
        try {
            keyring.write(account, prompt.password());
        } catch (const qb::Error &e) {
            // The password serves this session all the same.
            plainBox(parent, QMessageBox::Warning, QApplication::applicationName(), e.message());
        }
    }
    return true;
}

bool askPasswordAgain(StorePasswords &passwords, const MailStoreEntry &account,
                      TStringLoader *loader, QWidget *parent)
{
    KeyringPasswords &keyring = passwords.keyring();
    PasswordPrompt prompt(account, keyring.unavailableReason(), loader, parent);
    if (prompt.exec() != QDialog::Accepted)
        return false;
    passwords.set(account, prompt.password());
    if (prompt.remember()) {
        try {
            keyring.write(account, prompt.password());
        } catch (const qb::Error &e) {
            plainBox(parent, QMessageBox::Warning, QApplication::applicationName(), e.message());
        }
    }
    return true;
}
