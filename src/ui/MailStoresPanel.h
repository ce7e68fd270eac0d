#pragma once

#include "ImapAccountWindow.h"
#include "StorePasswords.h"

#include <QGroupBox>

#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;
class TStringLoader;

// The options page's list of the configured mail stores (MailStoreEntries.h) with the
// buttons that add, edit, rename and remove them. Each change goes to the registry at
// once, whole or not at all, and the list then shows what the registry holds.
class MailStoresPanel : public QGroupBox
{
    Q_OBJECT
public:
    // The section of the windows this panel opens (the panel itself is localised with
    // the window that holds it).
    static constexpr QLatin1String languageSection{"TMailStores"};

    MailStoresPanel(StorePasswords passwords, TStringLoader *loader, QWidget *parent);

    // How the IMAP window tests a connection.
    void setConnectionTest(ImapAccountWindow::ConnectionTest test) { m_test = std::move(test); }

    // The stores listed, as last read from the registry.
    const QList<MailStoreEntry> &entries() const { return m_entries; }
    // Reads the registry again.
    void reload();

    QTreeWidget *storeList;
    QLabel *noStoresNote;
    QPushButton *addMaildirButton;
    QPushButton *addImapButton;
    QPushButton *editButton;
    QPushButton *renameButton;
    QPushButton *removeButton;

    void addMaildir();
    void addImapAccount();
    void editStore();
    void renameStore();
    void removeStore();

private:
    // The selected store as the registry has it now, or nothing (the list is read again).
    std::optional<MailStoreEntry> selectedStore();
    QStringList namesBesides(const QString &name) const;
    std::optional<QString> askMaildir(const QString &start);
    std::optional<QString> askName(const QString &initial, const QStringList &taken);
    void editImapAccount(const MailStoreEntry &account);
    // Writes the stores; an error is shown and the registry stays as it was. The list
    // shows the registry either way.
    bool write(const QList<MailStoreEntry> &entries);
    void updateButtons();
    QString localised(const char *name, const QString &builtIn) const;

    StorePasswords m_passwords;
    TStringLoader *m_loader;
    ImapAccountWindow::ConnectionTest m_test;
    QList<MailStoreEntry> m_entries;
};
