#include "MissingPasswords.h"

#include "KeyringPasswords.h"
#include "PasswordPrompt.h"
#include "PlainText.h"
#include "StorePasswords.h"
#include "common/Error.h"
#include "mailstore/imap/ImapStore.h"

#include <QApplication>
#include <QMessageBox>

bool providePassword(StorePasswords &passwords, const MailStoreEntry &account,
                     TStringLoader *loader, QWidget *parent)
{
    if (passwords.password(account))
        return true;
    KeyringPasswords &keyring = passwords.keyring();
    if (const std::optional<QString> kept = keyring.read(account)) {
        passwords.set(account, *kept);
        return true;
    }
    return askPasswordAgain(passwords, account, loader, parent);
}

bool provideStorePasswords(StorePasswords &passwords, TStringLoader *loader, QWidget *parent,
                           const QString &sourceEntryId)
{
    QList<MailStoreEntry> accounts;
    try {
        accounts = passwords.accountsToOpen();
    } catch (const qb::Error &e) {
        plainBox(parent, QMessageBox::Critical, QApplication::applicationName(), e.message());
        return false;
    }
    for (const MailStoreEntry &account : std::as_const(accounts)) {
        // A folder of one store is read alone: the other accounts are not opened.
        if (!sourceEntryId.isEmpty() && !imapstore::isEntryIdOf(account, sourceEntryId))
            continue;
        if (!providePassword(passwords, account, loader, parent))
            return false;
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
