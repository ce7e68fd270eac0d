#pragma once

#include <QString>

class QWidget;
class StorePasswords;
class TStringLoader;
struct MailStoreEntry;

// Makes sure the account has a password in the vault, taken from the keyring, else asked
// for (and kept in the keyring when the user asks to). False when the user cancelled.
bool providePassword(StorePasswords &passwords, const MailStoreEntry &account,
                     TStringLoader *loader, QWidget *parent);

// Before an analysis or a job opens the stores: providePassword for each IMAP account
// among them, or only for the one whose folder sourceEntryId names, when given (no
// account for a local folder). False when the user cancelled or a store argument cannot
// be read (shown in a box): then nothing should start.
bool provideStorePasswords(StorePasswords &passwords, TStringLoader *loader, QWidget *parent,
                           const QString &sourceEntryId = {});

// After the server refused it: asks the user for the account's password, skipping the
// keyring (which may hold the refused one, and is written again when the user asks to).
// False when the user cancelled.
bool askPasswordAgain(StorePasswords &passwords, const MailStoreEntry &account,
                      TStringLoader *loader, QWidget *parent);
