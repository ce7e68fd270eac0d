#pragma once

#include "settings/MailStoreEntries.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class TStringLoader;

// Asks for the password of an IMAP account: "Password for user@host", the password and
// whether the keyring should remember it. When the keyring cannot, the box is off and a
// note says why.
class PasswordPrompt : public QDialog
{
    Q_OBJECT
public:
    static constexpr QLatin1String languageSection{"TPasswordPrompt"};

    PasswordPrompt(const MailStoreEntry &account, const QString &keyringUnavailable,
                   TStringLoader *loader, QWidget *parent);

    QString password() const;
    bool remember() const;

    QLabel *accountLabel;
    QLineEdit *passwordField;
    QCheckBox *rememberChoice;
    QLabel *keyringNote;
};
