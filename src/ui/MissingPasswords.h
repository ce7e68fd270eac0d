#pragma once

class QWidget;
class StorePasswords;
class TStringLoader;
struct MailStoreEntry;

// Before an analysis or a job opens the stores: makes sure each IMAP account among them
// has a password in the vault, taken from the keyring, else asked for (and kept in the
// keyring when the user asks to). False when the user cancelled or a store argument
// cannot be read (shown in a box): then nothing should start.
bool provideStorePasswords(StorePasswords &passwords, TStringLoader *loader, QWidget *parent);

// After the server refused it: asks the user for the account's password, skipping the
// keyring (which may hold the refused one, and is written again when the user asks to).
// False when the user cancelled.
bool askPasswordAgain(StorePasswords &passwords, const MailStoreEntry &account,
                      TStringLoader *loader, QWidget *parent);
