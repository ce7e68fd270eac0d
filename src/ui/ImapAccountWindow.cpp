#include "ImapAccountWindow.h"

#include "KeyringPasswords.h"
#include "Localise.h"
#include "ObjectNames.h"
#include "PlainText.h"
#include "StoreNameCheck.h"
#include "common/Error.h"
#include "imap/ImapError.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

namespace {

// The order of the security choices.
constexpr MailStoreEntry::Security securities[] = {MailStoreEntry::Security::Tls,
                                                   MailStoreEntry::Security::StartTls,
                                                   MailStoreEntry::Security::Plain};

// Where a connection without encryption stays on this computer.
bool isThisComputer(const QString &host)
{
    const QString name = host.trimmed();
    return name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           name == QLatin1String("127.0.0.1") || name == QLatin1String("::1") ||
           name == QLatin1String("[::1]");
}

QString serverOf(const MailStoreEntry &account)
{
    return account.host.toLower() + QLatin1Char(':') + QString::number(account.port);
}

} // namespace

struct ImapAccountWindow::TestOutcome
{
    bool worked = false;
    QString message;
    QByteArray certificate; // the fingerprint of a certificate that failed verification
};

ImapAccountWindow::ImapAccountWindow(const MailStoreEntry &account, QStringList takenNames,
                                     StorePasswords passwords, ConnectionTest test, Keep keep,
                                     TStringLoader *loader, QWidget *parent)
    : QDialog(parent), m_original(account), m_takenNames(std::move(takenNames)),
      m_passwords(std::move(passwords)), m_test(std::move(test)), m_keep(std::move(keep)),
      m_security(account.security), m_trustedFingerprint(account.trustedFingerprint),
      m_trustedServer(serverOf(account))
{
    setObjectName(QStringLiteral("imapAccountWindow"));
    setWindowTitle(QStringLiteral("IMAP account"));
    buildFields();
    if (loader) {
        try {
            LocaliseForm(*loader, languageSection, this);
        } catch (const qb::Error &) {
            // Its design texts stay.
        }
    }

    nameField->setText(account.name);
    hostField->setText(account.host);
    securityChoice->setCurrentIndex(
        int(std::find(std::begin(securities), std::end(securities), account.security) -
            std::begin(securities)));
    portField->setValue(account.port);
    userField->setText(account.user);
    if (!account.host.isEmpty()) {
        KeyringPasswords &keyring = m_passwords.keyring();
        std::optional<QString> password = m_passwords.password(account);
        const std::optional<QString> kept = keyring.read(account);
        m_wasRemembered = kept.has_value();
        if (!password)
            password = kept;
        passwordField->setText(password.value_or(QString()));
    }
    rememberChoice->setChecked(m_wasRemembered);
    const QString unavailable = m_passwords.keyring().unavailableReason();
    keyringNote->setText(unavailable);
    keyringNote->setVisible(!unavailable.isEmpty());
    rememberChoice->setEnabled(unavailable.isEmpty());
    connect(securityChoice, &QComboBox::currentIndexChanged, this,
            &ImapAccountWindow::securityChanged);
    // Without a way to test, the button would promise what it cannot do.
    testButton->setVisible(bool(m_test));
}

void ImapAccountWindow::buildFields()
{
    nameField = named(new QLineEdit, "nameField");
    hostField = named(new QLineEdit, "hostField");
    portField = named(new QSpinBox, "portField");
    portField->setRange(1, 65535);
    securityChoice = named(new QComboBox, "securityChoice");
    securityChoice->addItems({QStringLiteral("TLS"), QStringLiteral("STARTTLS"),
                              QStringLiteral("None (this computer only)")});
    userField = named(new QLineEdit, "userField");
    passwordField = named(new QLineEdit, "passwordField");
    passwordField->setEchoMode(QLineEdit::Password);
    rememberChoice =
        named(new QCheckBox(QStringLiteral("&Remember password in the keyring")), "rememberChoice");
    keyringNote = named(plainLabel(new QLabel), "keyringNote");
    keyringNote->setWordWrap(true);
    testButton = named(new QPushButton(QStringLiteral("&Test connection")), "testButton");
    testResult = named(plainLabel(new QLabel), "testResult");
    testResult->setWordWrap(true);
    testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    trustButton = named(new QPushButton(QStringLiteral("Trust this &certificate")), "trustButton");
    trustButton->hide();
    buttons =
        named(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel), "buttons");

    auto *form = new QFormLayout;
    const auto addRow = [&](const char *labelName, const QString &text, QWidget *field) {
        auto *label = named(new QLabel(text), labelName);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    addRow("nameLabel", QStringLiteral("&Name:"), nameField);
    addRow("hostLabel", QStringLiteral("&Server:"), hostField);
    addRow("securityLabel", QStringLiteral("S&ecurity:"), securityChoice);
    addRow("portLabel", QStringLiteral("&Port:"), portField);
    portField->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    addRow("userLabel", QStringLiteral("&User name:"), userField);
    addRow("passwordLabel", QStringLiteral("Pass&word:"), passwordField);
    form->addRow(QString(), rememberChoice);
    form->addRow(QString(), keyringNote);

    auto *testRow = new QHBoxLayout;
    testRow->addWidget(testButton);
    testRow->addWidget(trustButton);
    testRow->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(testRow);
    layout->addWidget(testResult, 1);
    layout->addWidget(buttons);
    setMinimumWidth(440);

    connect(buttons, &QDialogButtonBox::accepted, this, &ImapAccountWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ImapAccountWindow::reject);
    connect(testButton, &QPushButton::clicked, this, &ImapAccountWindow::testConnection);
    connect(trustButton, &QPushButton::clicked, this, &ImapAccountWindow::trustCertificate);
}

ImapAccountWindow::~ImapAccountWindow()
{
    stopTest();
}

void ImapAccountWindow::securityChanged()
{
    const int index = securityChoice->currentIndex();
    if (index < 0 || index >= int(std::size(securities)))
        return;
    // A port left at the old choice's default follows the new one.
    if (portField->value() == MailStoreEntry::defaultPort(m_security))
        portField->setValue(MailStoreEntry::defaultPort(securities[index]));
    m_security = securities[index];
}

MailStoreEntry ImapAccountWindow::account() const
{
    MailStoreEntry account;
    account.type = MailStoreEntry::Type::Imap;
    account.name = nameField->text().trimmed();
    account.host = hostField->text().trimmed();
    account.port = quint16(portField->value());
    const int index = securityChoice->currentIndex();
    account.security =
        index >= 0 && index < int(std::size(securities)) ? securities[index] : m_security;
    account.user = userField->text().trimmed();
    // A trusted certificate belongs to the server it came from.
    if (serverOf(account) == m_trustedServer)
        account.trustedFingerprint = m_trustedFingerprint;
    return account;
}

QString ImapAccountWindow::problem() const
{
    const QString wrong = storeNameProblem(nameField->text().trimmed(), m_takenNames);
    if (!wrong.isEmpty())
        return wrong;
    return serverProblem();
}

QString ImapAccountWindow::serverProblem() const
{
    const MailStoreEntry entry = account();
    if (entry.host.isEmpty())
        return QStringLiteral("Enter the IMAP server's name or address.");
    if (entry.user.isEmpty())
        return QStringLiteral("Enter the user name of the account.");
    if (entry.security == MailStoreEntry::Security::Plain && !isThisComputer(entry.host))
        return QStringLiteral("Without encryption the password would cross the network "
                              "readable: choose TLS or STARTTLS for %1, or a server on this "
                              "computer (localhost).")
            .arg(entry.host);
    return {};
}

void ImapAccountWindow::testConnection()
{
    if (testing() || !m_test)
        return;
    // The name plays no part in the test.
    QString wrong = serverProblem();
    if (wrong.isEmpty() && passwordField->text().isEmpty())
        wrong = QStringLiteral("Enter the password to test the connection.");
    if (!wrong.isEmpty()) {
        testResult->setText(wrong);
        return;
    }
    const MailStoreEntry entry = account();
    const QString password = passwordField->text();
    auto cancel = std::make_shared<std::atomic_bool>(false);
    auto outcome = std::make_shared<TestOutcome>();
    QThread *thread = QThread::create([test = m_test, entry, password, cancel, outcome] {
        try {
            test(entry, password, [cancel] { return cancel->load(); });
            outcome->worked = true;
        } catch (const imap::CertificateError &e) {
            outcome->message = e.message();
            outcome->certificate = e.fingerprint();
        } catch (const qb::Error &e) {
            outcome->message = e.message();
        } catch (const std::exception &e) {
            outcome->message = QString::fromUtf8(e.what());
        }
    });
    // The thread ends on its own once cancelled; this window may be gone by then.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, cancel, outcome] {
        if (m_cancelTest != cancel)
            return;
        m_cancelTest.reset();
        testButton->setEnabled(true);
        showOutcome(*outcome);
    });
    m_cancelTest = cancel;
    testButton->setEnabled(false);
    trustButton->hide();
    m_offeredFingerprint.clear();
    testResult->setText(QStringLiteral("Connecting to %1...").arg(serverOf(entry)));
    thread->start();
}

void ImapAccountWindow::showOutcome(const TestOutcome &outcome)
{
    if (outcome.worked) {
        testResult->setText(
            QStringLiteral("The connection works: logged in and listed the folders."));
        return;
    }
    testResult->setText(outcome.message);
    if (!outcome.certificate.isEmpty()) {
        m_offeredFingerprint = outcome.certificate;
        m_offeredServer = serverOf(account());
        trustButton->show();
    }
}

void ImapAccountWindow::trustCertificate()
{
    if (m_offeredFingerprint.isEmpty())
        return;
    m_trustedFingerprint = m_offeredFingerprint;
    m_trustedServer = m_offeredServer;
    m_offeredFingerprint.clear();
    trustButton->hide();
    testResult->setText(testResult->text() +
                        QStringLiteral("\n\nThis certificate is trusted for %1 from now on: "
                                       "test again to connect with it.")
                            .arg(m_trustedServer));
}

void ImapAccountWindow::stopTest()
{
    if (m_cancelTest)
        *m_cancelTest = true;
    m_cancelTest.reset();
}

void ImapAccountWindow::accept()
{
    const QString wrong = problem();
    if (!wrong.isEmpty()) {
        plainBox(this, QMessageBox::Warning, QApplication::applicationName(), wrong);
        return;
    }
    const MailStoreEntry entry = account();
    try {
        if (m_keep)
            m_keep(entry);
    } catch (const qb::Error &e) {
        plainBox(this, QMessageBox::Critical, QApplication::applicationName(), e.message());
        return;
    }
    keepPassword(entry);
    QDialog::accept();
}

void ImapAccountWindow::keepPassword(const MailStoreEntry &entry)
{
    KeyringPasswords &keyring = m_passwords.keyring();
    const bool sameAccount =
        StorePasswords::accountKey(entry) == StorePasswords::accountKey(m_original);
    QStringList failures;
    const auto attempt = [&failures](const std::function<void()> &change) {
        try {
            change();
        } catch (const qb::Error &e) {
            failures << e.message();
        }
    };
    if (!m_original.host.isEmpty() && !sameAccount) {
        m_passwords.forget(m_original);
        if (m_wasRemembered)
            attempt([&] { keyring.remove(m_original); });
    }
    const QString password = passwordField->text();
    if (password.isEmpty())
        m_passwords.forget(entry);
    else
        m_passwords.set(entry, password);
    if (rememberChoice->isEnabled() && rememberChoice->isChecked() && !password.isEmpty())
        attempt([&] { keyring.write(entry, password); });
    else if (m_wasRemembered && sameAccount)
        attempt([&] { keyring.remove(entry); });
    if (!failures.isEmpty()) {
        // The account is kept; the password serves this session all the same.
        plainBox(this, QMessageBox::Warning, QApplication::applicationName(),
                 failures.join(QLatin1Char('\n')));
    }
}

void ImapAccountWindow::done(int result)
{
    stopTest();
    QDialog::done(result);
}
