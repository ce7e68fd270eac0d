#pragma once

#include "StorePasswords.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TStringLoader;

// Adds or edits an IMAP account: its store name, server, port, security, user and
// password, whether the keyring remembers the password, and a test of the connection
// that runs on a thread of its own while the window stays usable. A server certificate
// that fails verification is trusted only when the user presses "Trust this certificate"
// after seeing its details.
class ImapAccountWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr QLatin1String languageSection{"TImapAccountWindow"};

    // Logs in and lists the folders, or throws the IMAP layer's errors; called on the
    // test's thread, it returns soon after cancelled() says so.
    using ConnectionTest =
        std::function<void(const MailStoreEntry &account, const QString &password,
                           const std::function<bool()> &cancelled)>;
    // Keeps the account (in the registry); throws qb::Error when it cannot, and the window
    // then stays open with what the user typed.
    using Keep = std::function<void(const MailStoreEntry &account)>;

    // account: the one edited, or a new one (an empty name). takenNames: the names of the
    // other stores, which this one may not take.
    ImapAccountWindow(const MailStoreEntry &account, QStringList takenNames,
                      StorePasswords passwords, ConnectionTest test, Keep keep,
                      TStringLoader *loader, QWidget *parent);
    ~ImapAccountWindow() override;

    // The account as the fields say.
    MailStoreEntry account() const;
    // What is wrong with the fields, or empty.
    QString problem() const;
    // True while a connection test runs.
    bool testing() const { return m_cancelTest != nullptr; }

    QLineEdit *nameField;
    QLineEdit *hostField;
    QSpinBox *portField;
    QComboBox *securityChoice;
    QLineEdit *userField;
    QLineEdit *passwordField;
    QCheckBox *rememberChoice;
    QLabel *keyringNote;
    QPushButton *testButton;
    QLabel *testResult;
    QPushButton *trustButton;
    QDialogButtonBox *buttons;

    void testConnection();
    void trustCertificate();

public Q_SLOTS:
    void accept() override;
    void done(int result) override;

private:
    struct TestOutcome;
    void buildFields();
    // What is wrong with the server's fields (all but the name), or empty.
    QString serverProblem() const;
    void securityChanged();
    void showOutcome(const TestOutcome &outcome);
    void stopTest();
    void keepPassword(const MailStoreEntry &account);

    MailStoreEntry m_original;
    QStringList m_takenNames;
    StorePasswords m_passwords;
    ConnectionTest m_test;
    Keep m_keep;
    MailStoreEntry::Security m_security;
    // The certificate the user trusts, for the server it came from.
    QByteArray m_trustedFingerprint;
    QString m_trustedServer;
    QByteArray m_offeredFingerprint;
    QString m_offeredServer;
    bool m_wasRemembered = false;
    std::shared_ptr<std::atomic_bool> m_cancelTest;
};
