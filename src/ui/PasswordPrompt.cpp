#include "PasswordPrompt.h"

#include "Localise.h"
#include "PlainText.h"
#include "common/Error.h"
#include "common/Format.h"
#include "lang/TStringLoader.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

PasswordPrompt::PasswordPrompt(const MailStoreEntry &account, const QString &keyringUnavailable,
                               TStringLoader *loader, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("passwordPrompt"));
    setWindowTitle(QStringLiteral("IMAP password"));
    accountLabel = plainLabel(new QLabel(QStringLiteral("Password for %s"), this));
    accountLabel->setObjectName(QStringLiteral("accountLabel"));
    passwordField = new QLineEdit(this);
    passwordField->setObjectName(QStringLiteral("passwordField"));
    passwordField->setEchoMode(QLineEdit::Password);
    accountLabel->setBuddy(passwordField);
    rememberChoice = new QCheckBox(QStringLiteral("&Remember password in the keyring"), this);
    rememberChoice->setObjectName(QStringLiteral("rememberChoice"));
    keyringNote = plainLabel(new QLabel(this));
    keyringNote->setObjectName(QStringLiteral("keyringNote"));
    keyringNote->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(accountLabel);
    layout->addWidget(passwordField);
    layout->addWidget(rememberChoice);
    layout->addWidget(keyringNote);
    layout->addStretch();
    layout->addWidget(buttons);

    if (loader) {
        try {
            LocaliseForm(*loader, languageSection, this);
        } catch (const qb::Error &) {
            // Its design texts stay.
        }
    }
    // The account goes in after localising: the language file keeps the pattern.
    try {
        accountLabel->setText(qb::format(accountLabel->text(), {account.accountText()}));
    } catch (const qb::Error &) {
        accountLabel->setText(QStringLiteral("Password for %1").arg(account.accountText()));
    }
    // The note is the keyring's reason, which is not the language file's.
    keyringNote->setText(keyringUnavailable);
    keyringNote->setVisible(!keyringUnavailable.isEmpty());
    rememberChoice->setEnabled(keyringUnavailable.isEmpty());
    setMinimumWidth(360);
}

QString PasswordPrompt::password() const
{
    return passwordField->text();
}

bool PasswordPrompt::remember() const
{
    return rememberChoice->isEnabled() && rememberChoice->isChecked();
}
