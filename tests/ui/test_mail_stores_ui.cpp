#include "common/Error.h"
#include "imap/ImapError.h"
#include "lang/TStringLoader.h"
#include "mailstore/StoreConfig.h"
#include "mailstore/memory/MemoryStore.h"
#include "settings/MailStoreEntries.h"
#include "settings/TRegistry.h"
#include "ui/ImapAccountWindow.h"
#include "ui/KeyringPasswords.h"
#include "ui/MailStoresPanel.h"
#include "ui/MainWindow.h"
#include "ui/MissingPasswords.h"
#include "ui/PasswordPrompt.h"
#include "ui/StatusWindow.h"
#include "ui/StorePasswords.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <deque>

#include <gmime/gmime.h>

namespace {

// Answers the modal windows that open, in order: each step names the kind of window it
// expects and acts on it (closing it later, through the event loop, so that a box the
// step causes opens outside the step). A window that no step expects is rejected and
// recorded.
class Modals : public QObject
{
public:
    Modals()
    {
        m_poll.setInterval(10);
        connect(&m_poll, &QTimer::timeout, this, &Modals::poll);
        m_poll.start();
    }

    template <typename Window> void then(std::function<void(Window *)> step)
    {
        m_steps.push_back([step](QWidget *modal) {
            auto *window = qobject_cast<Window *>(modal);
            if (window)
                step(window);
            return window != nullptr;
        });
    }
    // Expects a message box, records its text and closes it.
    void thenBox()
    {
        then<QMessageBox>([this](QMessageBox *box) {
            boxes << box->text();
            QTimer::singleShot(0, box, [box] { box->done(QMessageBox::No); });
        });
    }

    bool done() const { return m_steps.empty(); }
    QStringList boxes;
    QStringList unexpected;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == m_handled)
            return;
        if (m_steps.empty()) {
            unexpected << QString::fromLatin1(modal->metaObject()->className());
            m_handled = modal;
            QTimer::singleShot(0, modal, [modal] {
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
            });
            return;
        }
        if (m_steps.front()(modal)) {
            m_steps.pop_front();
            m_handled = modal;
            // A check that failed in the step left the window open: close it, so the
            // test ends with its failure instead of waiting.
            if (QTest::currentTestFailed())
                QTimer::singleShot(0, modal, [modal] {
                    if (auto *dialog = qobject_cast<QDialog *>(modal))
                        dialog->reject();
                });
        }
    }

    std::deque<std::function<bool(QWidget *)>> m_steps;
    QPointer<QWidget> m_handled;
    QTimer m_poll;
};

// Clicks later, from the event loop.
void clickLater(QAbstractButton *button)
{
    QTimer::singleShot(0, button, &QAbstractButton::click);
}

void okLater(QDialogButtonBox *buttons)
{
    clickLater(buttons->button(QDialogButtonBox::Ok));
}

// A keyring in memory; "unavailable" behaves as a desktop without one.
class MemoryKeyring : public KeyringPasswords
{
public:
    QHash<QString, QString> kept;
    bool unavailable = false;

    std::optional<QString> read(const MailStoreEntry &account) override
    {
        if (unavailable) {
            setUnavailable(QStringLiteral("No keyring here"));
            return std::nullopt;
        }
        if (!kept.contains(keyOf(account)))
            return std::nullopt;
        return kept.value(keyOf(account));
    }
    void write(const MailStoreEntry &account, const QString &password) override
    {
        if (unavailable)
            throw qb::Error(QStringLiteral("No keyring here"));
        kept.insert(keyOf(account), password);
    }
    void remove(const MailStoreEntry &account) override { kept.remove(keyOf(account)); }
};

MailStoreEntry imapAccount(const QString &name,
                           const QString &host = QStringLiteral("mail.example.org"))
{
    MailStoreEntry account;
    account.name = name;
    account.type = MailStoreEntry::Type::Imap;
    account.host = host;
    account.user = QStringLiteral("ann");
    return account;
}

MailStoreEntry maildirStore(const QString &name, const QString &path)
{
    MailStoreEntry store;
    store.name = name;
    store.path = path;
    return store;
}

QByteArray hive()
{
    QFile file(TRegistry::hivePath(TRegistry::Root::CurrentUser));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the panel lists: "name|where" per row.
QStringList listed(const MailStoresPanel &panel)
{
    QStringList rows;
    for (int row = 0; row < panel.storeList->topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = panel.storeList->topLevelItem(row);
        rows << item->text(0) + QLatin1Char('|') + item->text(1);
    }
    return rows;
}

// What the registry holds, in the same form.
QStringList registered()
{
    QStringList rows;
    for (const MailStoreEntry &entry : readMailStoreEntries()) {
        rows << entry.name + QLatin1Char('|') +
                    (entry.type == MailStoreEntry::Type::Maildir
                         ? QStringLiteral("Maildir: ") + entry.path
                         : QStringLiteral("IMAP: ") + entry.accountText());
    }
    return rows;
}

void select(MailStoresPanel &panel, const QString &name)
{
    const auto items = panel.storeList->findItems(name, Qt::MatchExactly, 0);
    QVERIFY(!items.isEmpty());
    panel.storeList->setCurrentItem(items.first());
}

// Fills the IMAP window's fields.
void fill(ImapAccountWindow *window, const QString &name, const QString &host, const QString &user,
          int security, const QString &password)
{
    window->nameField->setText(name);
    window->hostField->setText(host);
    window->securityChoice->setCurrentIndex(security);
    window->userField->setText(user);
    window->passwordField->setText(password);
}

void chooseFolder(Modals &modals, const QString &path)
{
    modals.then<QFileDialog>([path](QFileDialog *dialog) {
        // In a folder dialog, the folder shown is the one chosen.
        dialog->setDirectory(path);
        QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog *>(dialog)->accept(); });
    });
}

void giveName(Modals &modals, const QString &name, bool cancel = false)
{
    modals.then<QInputDialog>([name, cancel](QInputDialog *dialog) {
        dialog->setTextValue(name);
        QTimer::singleShot(0, dialog, cancel ? &QDialog::reject : &QDialog::accept);
    });
}

} // namespace

class TestMailStoresUi : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    QTemporaryDir m_mail;

    QString folder(const QString &name)
    {
        QDir(m_mail.path()).mkpath(name);
        return m_mail.path() + QLatin1Char('/') + name;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        g_mime_init();
    }
    void init() { QFile::remove(TRegistry::hivePath(TRegistry::Root::CurrentUser)); }

    // Add, edit, rename and remove through the panel: after each, the registry holds
    // exactly what the list shows.
    void panelChangesReachTheRegistry()
    {
        auto keyring = std::make_shared<MemoryKeyring>();
        StorePasswords passwords({}, keyring);
        MailStoresPanel panel(passwords, nullptr, nullptr);
        panel.show();
        QVERIFY(listed(panel).isEmpty());
        QVERIFY(panel.noStoresNote->isVisible());
        QVERIFY(!panel.removeButton->isEnabled());

        const QString work = folder(QStringLiteral("Work"));
        Modals modals;
        chooseFolder(modals, work);
        giveName(modals, QStringLiteral("Work mail"));
        panel.addMaildir();
        QVERIFY(modals.done());
        QCOMPARE(listed(panel), QStringList{QStringLiteral("Work mail|Maildir: ") + work});
        QCOMPARE(registered(), listed(panel));
        QVERIFY(!panel.noStoresNote->isVisible());

        modals.then<ImapAccountWindow>([](ImapAccountWindow *window) {
            fill(window, QStringLiteral("Company"), QStringLiteral("imap.example.com"),
                 QStringLiteral("bob"), 1, QStringLiteral("pw"));
            QCOMPARE(window->portField->value(), 143); // follows STARTTLS
            window->rememberChoice->setChecked(true);
            okLater(window->buttons);
        });
        panel.addImapAccount();
        QVERIFY(modals.done());
        QCOMPARE(listed(panel), (QStringList{QStringLiteral("Company|IMAP: bob@imap.example.com"),
                                             QStringLiteral("Work mail|Maildir: ") + work}));
        QCOMPARE(registered(), listed(panel));
        const MailStoreEntry company = readMailStoreEntries().first();
        QCOMPARE(company.security, MailStoreEntry::Security::StartTls);
        QCOMPARE(passwords.password(company), QStringLiteral("pw"));
        QCOMPARE(keyring->read(company), QStringLiteral("pw"));

        // Editing the account to another port: the password moves with it.
        select(panel, QStringLiteral("Company"));
        modals.then<ImapAccountWindow>([](ImapAccountWindow *window) {
            QCOMPARE(window->passwordField->text(), QStringLiteral("pw"));
            QVERIFY(window->rememberChoice->isChecked());
            window->portField->setValue(1143);
            okLater(window->buttons);
        });
        panel.editStore();
        QVERIFY(modals.done());
        QCOMPARE(listed(panel).first(), QStringLiteral("Company|IMAP: bob@imap.example.com:1143"));
        QCOMPARE(registered(), listed(panel));
        const MailStoreEntry moved = readMailStoreEntries().first();
        QCOMPARE(keyring->kept.keys(),
                 QStringList{QStringLiteral("imap:bob@imap.example.com:1143")});
        QCOMPARE(passwords.password(moved), QStringLiteral("pw"));
        QVERIFY(!passwords.password(company));

        select(panel, QStringLiteral("Work mail"));
        const QString home = folder(QStringLiteral("Home"));
        chooseFolder(modals, home);
        panel.editStore();
        QVERIFY(modals.done());
        QCOMPARE(listed(panel).last(), QStringLiteral("Work mail|Maildir: ") + home);

        select(panel, QStringLiteral("Work mail"));
        giveName(modals, QStringLiteral("Archive"));
        panel.renameStore();
        QVERIFY(modals.done());
        QCOMPARE(listed(panel),
                 (QStringList{QStringLiteral("Archive|Maildir: ") + home,
                              QStringLiteral("Company|IMAP: bob@imap.example.com:1143")}));
        QCOMPARE(registered(), listed(panel));

        // Removing asks first; No keeps the store, Yes removes it and its password.
        select(panel, QStringLiteral("Company"));
        modals.thenBox();
        panel.removeStore();
        QCOMPARE(registered(), listed(panel));
        QCOMPARE(listed(panel).size(), 2);
        select(panel, QStringLiteral("Company"));
        modals.then<QMessageBox>([](QMessageBox *box) {
            QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Yes)->click(); });
        });
        panel.removeStore();
        QVERIFY(modals.done());
        QCOMPARE(listed(panel), QStringList{QStringLiteral("Archive|Maildir: ") + home});
        QCOMPARE(registered(), listed(panel));
        QVERIFY(keyring->kept.isEmpty());
        QVERIFY(!passwords.password(moved));
        QVERIFY(modals.unexpected.isEmpty());
    }

    // The default Maildir is listed from the first start, so an account added beside it
    // keeps it; once the user has removed it, it is not listed again.
    void defaultMaildirStaysBesideAddedAccounts()
    {
        qputenv("MAILDIR", QFile::encodeName(folder(QStringLiteral("Maildir"))));
        QVERIFY(mailstore::listDefaultMaildir());
        QVERIFY(!mailstore::listDefaultMaildir());
        writeMailStoreEntries(readMailStoreEntries() << imapAccount(QStringLiteral("Mail")));
        QCOMPARE(mailstore::chosenStores({}).size(), 2);
        writeMailStoreEntries({imapAccount(QStringLiteral("Mail"))});
        QVERIFY(!mailstore::listDefaultMaildir());
        QCOMPARE(mailstore::chosenStores({}).size(), 1);
        qunsetenv("MAILDIR");
    }

    // A name already taken (in any case), blank or with "\" is refused with a box, asked
    // again with what was typed, and nothing is written.
    void badNamesWriteNothing()
    {
        writeMailStoreEntries({maildirStore(QStringLiteral("Archive"), folder(QStringLiteral("A"))),
                               imapAccount(QStringLiteral("Company"))});
        const QByteArray before = hive();
        StorePasswords passwords({}, std::make_shared<MemoryKeyring>());
        MailStoresPanel panel(passwords, nullptr, nullptr);
        const QStringList shown = listed(panel);

        Modals modals;
        chooseFolder(modals, folder(QStringLiteral("B")));
        giveName(modals, QStringLiteral("archive"));
        modals.thenBox();
        giveName(modals, QStringLiteral("  "));
        modals.thenBox();
        giveName(modals, QStringLiteral("a\\b"));
        modals.thenBox();
        QString retyped;
        modals.then<QInputDialog>([&retyped](QInputDialog *dialog) {
            retyped = dialog->textValue();
            QTimer::singleShot(0, dialog, &QDialog::reject);
        });
        panel.addMaildir();
        QVERIFY(modals.done());
        QCOMPARE(retyped, QStringLiteral("a\\b"));
        QVERIFY(modals.boxes.at(0).contains(QStringLiteral("\"Archive\" already")));
        QCOMPARE(modals.boxes.size(), 3);

        select(panel, QStringLiteral("Archive"));
        giveName(modals, QStringLiteral("COMPANY"));
        modals.thenBox();
        giveName(modals, QString(), true);
        panel.renameStore();
        QVERIFY(modals.done());

        // The IMAP window keeps its fields through the refusal.
        modals.then<ImapAccountWindow>([](ImapAccountWindow *window) {
            fill(window, QStringLiteral("company"), QStringLiteral("h"), QStringLiteral("u"), 0,
                 QString());
            okLater(window->buttons);
        });
        modals.thenBox();
        modals.then<ImapAccountWindow>([](ImapAccountWindow *window) {
            QCOMPARE(window->nameField->text(), QStringLiteral("company"));
            QCOMPARE(window->hostField->text(), QStringLiteral("h"));
            QTimer::singleShot(0, window, &QDialog::reject);
        });
        panel.addImapAccount();
        QVERIFY(modals.done());
        QVERIFY(modals.boxes.last().contains(QStringLiteral("\"Company\" already")));

        QCOMPARE(hive(), before);
        QCOMPARE(listed(panel), shown);
        QVERIFY(modals.unexpected.isEmpty());
    }

    // The IMAP window: no connection without encryption but to this computer, a host and a
    // user are needed, and the port follows the security while it is the default.
    void imapWindowChecksItsFields()
    {
        StorePasswords passwords({}, std::make_shared<MemoryKeyring>());
        MailStoreEntry kept;
        int keeps = 0;
        ImapAccountWindow window(
            MailStoreEntry{}, {}, passwords, {},
            [&](const MailStoreEntry &entry) {
                kept = entry;
                ++keeps;
            },
            nullptr, nullptr);
        QCOMPARE(window.portField->value(), 993);
        window.securityChoice->setCurrentIndex(1);
        QCOMPARE(window.portField->value(), 143);
        window.portField->setValue(10143);
        window.securityChoice->setCurrentIndex(0);
        QCOMPARE(window.portField->value(), 10143);
        window.portField->setValue(143);
        window.securityChoice->setCurrentIndex(2);
        QCOMPARE(window.portField->value(), 143);

        fill(&window, QStringLiteral("Remote"), QStringLiteral("mail.example.org"),
             QStringLiteral("ann"), 2, QStringLiteral("pw"));
        QVERIFY(window.problem().contains(QStringLiteral("TLS or STARTTLS")));
        Modals modals;
        modals.thenBox();
        window.accept();
        QVERIFY(modals.done());
        QCOMPARE(keeps, 0);

        window.hostField->setText(QStringLiteral(" "));
        QVERIFY(window.problem().contains(QStringLiteral("server")));
        window.hostField->setText(QStringLiteral("localhost"));
        window.userField->setText(QString());
        QVERIFY(window.problem().contains(QStringLiteral("user name")));
        window.userField->setText(QStringLiteral("ann"));
        for (const char *local : {"localhost", "127.0.0.1", "::1", "LocalHost"}) {
            window.hostField->setText(QLatin1String(local));
            QCOMPARE(window.problem(), QString());
        }
        window.accept();
        QCOMPARE(keeps, 1);
        QCOMPARE(kept.security, MailStoreEntry::Security::Plain);
        QCOMPARE(kept.host, QStringLiteral("LocalHost"));
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QVERIFY(modals.unexpected.isEmpty());
    }

    // A test runs on its own thread: the window stays usable, a certificate that fails is
    // shown and trusted only on the user's word, and Cancel stops the test.
    void connectionTestRunsAside()
    {
        StorePasswords passwords({}, std::make_shared<MemoryKeyring>());
        auto release = std::make_shared<std::atomic_bool>(false);
        auto sawCancel = std::make_shared<std::atomic_bool>(false);
        auto calls = std::make_shared<std::atomic_int>(0);
        const QByteArray fingerprint = QByteArray::fromHex("ab01cd02");
        const auto test = [=](const MailStoreEntry &account, const QString &password,
                              const std::function<bool()> &cancelled) {
            ++*calls;
            if (password != QStringLiteral("pw"))
                throw qb::Error(QStringLiteral("wrong password"));
            while (!release->load()) {
                if (cancelled()) {
                    *sawCancel = true;
                    throw imap::Cancelled();
                }
                QThread::msleep(5);
            }
            if (account.trustedFingerprint != fingerprint)
                throw imap::CertificateError(QStringLiteral("Subject: CN=mail\nSHA-256: AB:01"),
                                             fingerprint);
        };
        MailStoreEntry kept;
        ImapAccountWindow window(
            imapAccount(QString()), {}, passwords, test,
            [&](const MailStoreEntry &entry) { kept = entry; }, nullptr, nullptr);
        window.show();
        fill(&window, QStringLiteral("Mail"), QStringLiteral("mail.example.org"),
             QStringLiteral("ann"), 0, QStringLiteral("pw"));
        window.testButton->click();
        QVERIFY(window.testing());
        QVERIFY(!window.testButton->isEnabled());
        QVERIFY(window.testResult->text().contains(QStringLiteral("mail.example.org:993")));
        // The window answers while the test waits.
        window.userField->setText(QStringLiteral("ann"));
        QTest::qWait(50);
        QVERIFY(window.testing());
        *release = true;
        QTRY_VERIFY(!window.testing());
        QVERIFY(window.testResult->text().contains(QStringLiteral("CN=mail")));
        QVERIFY(window.trustButton->isVisible());
        QVERIFY(window.account().trustedFingerprint.isEmpty());

        window.trustButton->click();
        QCOMPARE(window.account().trustedFingerprint, fingerprint);
        QVERIFY(!window.trustButton->isVisible());
        window.testButton->click();
        QTRY_VERIFY(!window.testing());
        QVERIFY(window.testResult->text().contains(QStringLiteral("works")));
        // Another server does not inherit the trust.
        window.hostField->setText(QStringLiteral("other.example.org"));
        QVERIFY(window.account().trustedFingerprint.isEmpty());
        window.hostField->setText(QStringLiteral("mail.example.org"));
        window.accept();
        QCOMPARE(kept.trustedFingerprint, fingerprint);

        // Cancel while a test runs closes the window at once and stops the test.
        *release = false;
        ImapAccountWindow second(imapAccount(QStringLiteral("Two")), {}, passwords, test, {},
                                 nullptr, nullptr);
        second.show();
        second.passwordField->setText(QStringLiteral("pw"));
        second.testButton->click();
        QVERIFY(second.testing());
        second.reject();
        QVERIFY(!second.isVisible());
        QTRY_VERIFY(sawCancel->load());
        QCOMPARE(calls->load(), 3);
    }

    // The passwords answer on any thread, also once the windows' handle is gone.
    void vaultAnswersFromAnotherThread()
    {
        const MailStoreEntry account = imapAccount(QStringLiteral("A"));
        MailStoreEntry other = account;
        other.port = 1993;
        mailstore::PasswordSource source;
        {
            StorePasswords passwords({}, std::make_shared<MemoryKeyring>());
            source = passwords.source();
            passwords.set(account, QStringLiteral("first"));
            MailStoreEntry sameHostOtherCase = account;
            sameHostOtherCase.host = account.host.toUpper();
            QCOMPARE(passwords.password(sameHostOtherCase), QStringLiteral("first"));
            QVERIFY(!passwords.password(other));
        }
        std::optional<QString> seen, unseen;
        std::atomic_int found = 0;
        QThread *reader = QThread::create([&] {
            seen = source(account);
            unseen = source(other);
            for (int i = 0; i < 20000; ++i)
                found += source(account).has_value();
        });
        StorePasswords writer({}, std::make_shared<MemoryKeyring>());
        reader->start();
        for (int i = 0; i < 20000; ++i)
            writer.set(other, QString::number(i)); // another vault: never seen by source
        QVERIFY(reader->wait(10000));
        delete reader;
        QCOMPARE(seen, QStringLiteral("first"));
        QVERIFY(!unseen);
        QCOMPARE(found.load(), 20000);
    }

    // An account's password is asked for only when its folders are opened, and only on the
    // main thread; a folder of a local store is analysed without asking for any.
    void passwordsAskedOnlyForTheAccountOpened()
    {
        const MailStoreEntry account = imapAccount(QStringLiteral("A"));
        writeMailStoreEntries({account});
        StorePasswords passwords({}, std::make_shared<MemoryKeyring>());
        int asked = 0;
        passwords.setAsker([&asked](const MailStoreEntry &) {
            ++asked;
            return std::optional<QString>(QStringLiteral("given"));
        });
        const mailstore::PasswordSource source = passwords.source();
        std::optional<QString> fromStoreThread;
        QThread *reader = QThread::create([&] { fromStoreThread = source(account); });
        reader->start();
        QVERIFY(reader->wait(10000));
        delete reader;
        QVERIFY(!fromStoreThread);
        QCOMPARE(asked, 0);
        QCOMPARE(source(account), QStringLiteral("given"));
        QCOMPARE(asked, 1);

        StorePasswords none({}, std::make_shared<MemoryKeyring>());
        Modals modals;
        QVERIFY(provideStorePasswords(none, nullptr, nullptr,
                                      QStringLiteral("/home/ann/Maildir//.Projects")));
        // The account's INBOX, as its store names it (imap://user@host:port//mailbox).
        QVERIFY(!provideStorePasswords(none, nullptr, nullptr,
                                       QStringLiteral("imap://ann@mail.example.org:993//INBOX")));
        QCOMPARE(modals.unexpected, QStringList{QStringLiteral("PasswordPrompt")});
    }

    // Without a keyring on the desktop (these tests have no secret service on the bus):
    // the account window says so when asked to remember, the password serves the session,
    // and it is written to no file.
    void passwordsStayOutOfFiles()
    {
        const QString secret = QStringLiteral("Xq7-unusual-Pa55");
        StorePasswords passwords; // the desktop's keyring, which is not there
        MailStoresPanel panel(passwords, nullptr, nullptr);
        Modals modals;
        modals.then<ImapAccountWindow>([&](ImapAccountWindow *window) {
            fill(window, QStringLiteral("Mail"), QStringLiteral("mail.example.org"),
                 QStringLiteral("ann"), 0, secret);
            QVERIFY(window->rememberChoice->isEnabled());
            window->rememberChoice->setChecked(true);
            okLater(window->buttons);
        });
        modals.thenBox();
        panel.addImapAccount();
        QVERIFY(modals.done());
        QVERIFY(modals.boxes.value(0).contains(QStringLiteral("No keyring")));
        QCOMPARE(registered(), listed(panel));
        const MailStoreEntry account = readMailStoreEntries().value(0);
        QCOMPARE(passwords.password(account), secret);
        QVERIFY(hive().contains("mail.example.org"));
        QVERIFY(!hive().contains(secret.toUtf8()));

        // The next time, the window says at once that it cannot remember.
        select(panel, QStringLiteral("Mail"));
        modals.then<ImapAccountWindow>([&](ImapAccountWindow *window) {
            QCOMPARE(window->passwordField->text(), secret);
            QVERIFY(!window->rememberChoice->isEnabled());
            QVERIFY(!window->keyringNote->isHidden());
            QTimer::singleShot(0, window, &QDialog::reject);
        });
        panel.editStore();
        QVERIFY(modals.done());
        QVERIFY(modals.unexpected.isEmpty());
    }

    // Before an analysis opens an IMAP store without a password: the keyring is asked,
    // else the user; Cancel starts nothing.
    void analysisAsksForMissingPasswords()
    {
        MemoryStore store;
        auto top = store.addStore(QStringLiteral("Personal Folders"));
        store.setDefaultInbox(store.addFolder(top, QStringLiteral("Inbox")));
        const MailStoreEntry account = imapAccount(QStringLiteral("Mail"));
        writeMailStoreEntries({account});
        const QString secret = QStringLiteral("Zk9-unusual-Pa55");
        StorePasswords passwords;
        {
            MainWindow window(store.factory(), passwords);
            window.show();
            Modals modals;
            modals.then<PasswordPrompt>([](PasswordPrompt *prompt) {
                QVERIFY(
                    prompt->accountLabel->text().contains(QStringLiteral("ann@mail.example.org")));
                // No keyring here: the box is off and the note says why.
                QVERIFY(!prompt->rememberChoice->isEnabled());
                QVERIFY(prompt->keyringNote->text().contains(QStringLiteral("No keyring")));
                QTimer::singleShot(0, prompt, &QDialog::reject);
            });
            window.analyseButtonClick();
            QVERIFY(modals.done());
            QVERIFY(!window.workerRunning());
            QVERIFY(!window.findChild<StatusWindow *>());
            QVERIFY(!passwords.password(account));

            modals.then<PasswordPrompt>([&](PasswordPrompt *prompt) {
                prompt->passwordField->setText(secret);
                QTimer::singleShot(0, prompt, &QDialog::accept);
            });
            window.analyseButtonClick();
            QVERIFY(modals.done());
            QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
            QCOMPARE(passwords.password(account), secret);
            // Asked once per session.
            window.analyseButtonClick();
            QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
            QVERIFY(modals.unexpected.isEmpty());
            window.close();
        }
        QVERIFY(!hive().contains(secret.toUtf8()));
        QFile language(TStringLoader::defaultPath());
        QVERIFY(!language.open(QIODevice::ReadOnly) ||
                !language.readAll().contains(secret.toUtf8()));
    }

    // The order of the sources: the session's passwords, then the keyring, then the user,
    // whose password the keyring keeps when asked to.
    void passwordsComeFromVaultKeyringThenUser()
    {
        MailStoreEntry inVault = imapAccount(QStringLiteral("V"), QStringLiteral("v.example"));
        MailStoreEntry inKeyring = imapAccount(QStringLiteral("K"), QStringLiteral("k.example"));
        MailStoreEntry asked = imapAccount(QStringLiteral("U"), QStringLiteral("u.example"));
        writeMailStoreEntries({inVault, inKeyring, asked});
        auto keyring = std::make_shared<MemoryKeyring>();
        keyring->write(inKeyring, QStringLiteral("from keyring"));
        StorePasswords passwords({}, keyring);
        passwords.set(inVault, QStringLiteral("from vault"));
        Modals modals;
        modals.then<PasswordPrompt>([](PasswordPrompt *prompt) {
            QVERIFY(prompt->accountLabel->text().contains(QStringLiteral("u.example")));
            QVERIFY(prompt->rememberChoice->isEnabled());
            QVERIFY(prompt->keyringNote->isHidden());
            prompt->passwordField->setText(QStringLiteral("typed"));
            prompt->rememberChoice->setChecked(true);
            QTimer::singleShot(0, prompt, &QDialog::accept);
        });
        QVERIFY(provideStorePasswords(passwords, nullptr, nullptr));
        QVERIFY(modals.done());
        QCOMPARE(passwords.password(inVault), QStringLiteral("from vault"));
        QCOMPARE(passwords.password(inKeyring), QStringLiteral("from keyring"));
        QCOMPARE(passwords.password(asked), QStringLiteral("typed"));
        QCOMPARE(keyring->kept.value(KeyringPasswords::keyOf(asked)), QStringLiteral("typed"));
        QVERIFY(!keyring->kept.contains(KeyringPasswords::keyOf(inVault)));

        // Stores named on the command line count instead of the configured ones.
        StorePasswords named({QStringLiteral("imaps://zed@z.example")}, keyring);
        modals.then<PasswordPrompt>([](PasswordPrompt *prompt) {
            QVERIFY(prompt->accountLabel->text().contains(QStringLiteral("zed@z.example")));
            QTimer::singleShot(0, prompt, &QDialog::reject);
        });
        QVERIFY(!provideStorePasswords(named, nullptr, nullptr));
        QVERIFY(modals.done());
        QVERIFY(modals.unexpected.isEmpty());
    }
};

int main(int argc, char *argv[])
{
    // No desktop keyring answers: a bus that is not there.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillbrook-test-bus");
    QApplication app(argc, argv);
    TestMailStoresUi test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_mail_stores_ui.moc"
