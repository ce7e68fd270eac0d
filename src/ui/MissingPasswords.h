#pragma once

class QWidget;
class StorePasswords;
class TStringLoader;

// Before an analysis or a job opens the stores: makes sure each IMAP account among them
// has a password in the vault, taken from the keyring, else asked for (and kept in the
// keyring when the user asks to). False when the user cancelled or a store argument
// cannot be read (shown in a box): then nothing should start.
bool provideStorePasswords(StorePasswords &passwords, TStringLoader *loader, QWidget *parent);
