#include "MailStoresPanel.h"

#include "KeyringPasswords.h"
#include "Localise.h"
#include "ObjectNames.h"
#include "PlainText.h"
#include "StoreNameCheck.h"
#include "common/Error.h"
#include "lang/TStringLoader.h"
#include "mailstore/imap/AccountCheck.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString whereText(const MailStoreEntry &entry)
{
    return entry.type == MailStoreEntry::Type::Maildir
               ? QStringLiteral("Maildir: ") + entry.path
               : QStringLiteral("IMAP: ") + entry.accountText();
}

} // namespace

MailStoresPanel::MailStoresPanel(StorePasswords passwords, TStringLoader *loader, QWidget *parent)
    : QGroupBox(QStringLiteral(" Mail stores "), parent), m_passwords(std::move(passwords)),
      m_loader(loader), m_test(&mailstore::testImapAccount)
{
    setObjectName(QStringLiteral("mailStores"));
    storeList = named(new QTreeWidget, "storeList");
    storeList->setColumnCount(2);
    storeList->setHeaderHidden(true);
    storeList->setRootIsDecorated(false);
    storeList->setUniformRowHeights(true);
    storeList->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    storeList->header()->setStretchLastSection(true);
    noStoresNote = named(new QLabel(QStringLiteral("With no store listed, the Maildir at "
                                                   "$MAILDIR, else ~/Maildir, is opened.")),
                         "noStoresNote");
    noStoresNote->setWordWrap(true);
    noStoresNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    addMaildirButton = named(new QPushButton(QStringLiteral("Add &Maildir...")), "addMaildir");
    addImapButton = named(new QPushButton(QStringLiteral("Add &IMAP account...")), "addImap");
    editButton = named(new QPushButton(QStringLiteral("E&dit...")), "editStore");
    renameButton = named(new QPushButton(QStringLiteral("Re&name...")), "renameStore");
    removeButton = named(new QPushButton(QStringLiteral("Remo&ve")), "removeStore");

    // The buttons go in a row below the list: the main window is designed small, and a
    // column of five would not fit beside a list of a few rows.
    storeList->setMinimumHeight(storeList->fontMetrics().height() * 3 + 8);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button :
         {addMaildirButton, addImapButton, editButton, renameButton, removeButton})
        buttons->addWidget(button);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(storeList, 1);
    layout->addWidget(noStoresNote);
    layout->addLayout(buttons);

    connect(addMaildirButton, &QPushButton::clicked, this, &MailStoresPanel::addMaildir);
    connect(addImapButton, &QPushButton::clicked, this, &MailStoresPanel::addImapAccount);
    connect(editButton, &QPushButton::clicked, this, &MailStoresPanel::editStore);
    connect(renameButton, &QPushButton::clicked, this, &MailStoresPanel::renameStore);
    connect(removeButton, &QPushButton::clicked, this, &MailStoresPanel::removeStore);
    connect(storeList, &QTreeWidget::itemSelectionChanged, this, &MailStoresPanel::updateButtons);
    connect(storeList, &QTreeWidget::itemActivated, this, &MailStoresPanel::editStore);
    reload();
}

void MailStoresPanel::reload()
{
    const QString selected =
        storeList->currentItem() ? storeList->currentItem()->text(0) : QString();
    m_entries = readMailStoreEntries();
    storeList->clear();
    for (const MailStoreEntry &entry : std::as_const(m_entries)) {
        auto *item = new QTreeWidgetItem(storeList, {entry.name, whereText(entry)});
        item->setToolTip(1, plainToolTip(item->text(1)));
        if (entry.name == selected)
            storeList->setCurrentItem(item);
    }
    // The note takes the empty list's place: the page has no room for both.
    noStoresNote->setVisible(m_entries.isEmpty());
    storeList->setVisible(!m_entries.isEmpty());
    updateButtons();
}

void MailStoresPanel::updateButtons()
{
    const bool chosen = !storeList->selectedItems().isEmpty();
    for (QPushButton *button : {editButton, renameButton, removeButton})
        button->setEnabled(chosen);
}

QString MailStoresPanel::localised(const char *name, const QString &builtIn) const
{
    return LocalisedText(m_loader, languageSection, name, builtIn);
}

std::optional<MailStoreEntry> MailStoresPanel::selectedStore()
{
    const QList<QTreeWidgetItem *> items = storeList->selectedItems();
    const QString name = items.isEmpty() ? QString() : items.first()->text(0);
    reload();
    for (const MailStoreEntry &entry : std::as_const(m_entries)) {
        if (!name.isEmpty() && entry.name == name)
            return entry;
    }
    return std::nullopt;
}

QStringList MailStoresPanel::namesBesides(const QString &name) const
{
    QStringList names;
    for (const MailStoreEntry &entry : m_entries) {
        if (entry.name != name)
            names << entry.name;
    }
    return names;
}

std::optional<QString> MailStoresPanel::askMaildir(const QString &start)
{
    QFileDialog dialog(this, QStringLiteral("Choose the Maildir folder"), start);
    dialog.setObjectName(QStringLiteral("maildirDialog"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (m_loader) {
        try {
            LocaliseComponent(*m_loader, languageSection, &dialog);
        } catch (const qb::Error &) {
            // Its design texts stay.
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> MailStoresPanel::askName(const QString &initial, const QStringList &taken)
{
    QString name = initial;
    for (;;) {
        QInputDialog dialog(this);
        dialog.setObjectName(QStringLiteral("storeNameDialog"));
        dialog.setWindowTitle(localised("storeNameTitle", QStringLiteral("Mail store")));
        dialog.setLabelText(
            localised("storeNameLabel", QStringLiteral("&Name of the mail store:")));
        dialog.setTextValue(name);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        name = dialog.textValue().trimmed();
        const QString wrong = storeNameProblem(name, taken);
        if (wrong.isEmpty())
            return name;
        // Asked again with what was typed.
        plainBox(this, QMessageBox::Warning, QApplication::applicationName(), wrong);
    }
}

bool MailStoresPanel::write(const QList<MailStoreEntry> &entries)
{
    bool written = true;
    try {
        writeMailStoreEntries(entries);
    } catch (const qb::Error &e) {
        plainBox(this, QMessageBox::Critical, QApplication::applicationName(), e.message());
        written = false;
    }
    reload();
    return written;
}

void MailStoresPanel::addMaildir()
{
    const std::optional<QString> path = askMaildir(QString());
    if (!path)
        return;
    reload();
    const std::optional<QString> name =
        askName(QFileInfo(*path).fileName(), namesBesides(QString()));
    if (!name)
        return;
    MailStoreEntry entry;
    entry.name = *name;
    entry.type = MailStoreEntry::Type::Maildir;
    entry.path = *path;
    QList<MailStoreEntry> entries = m_entries;
    entries << entry;
    write(entries);
}

void MailStoresPanel::addImapAccount()
{
    reload();
    MailStoreEntry account;
    account.type = MailStoreEntry::Type::Imap;
    editImapAccount(account);
}

void MailStoresPanel::editImapAccount(const MailStoreEntry &account)
{
    const auto keep = [this, original = account.name](const MailStoreEntry &changed) {
        QList<MailStoreEntry> entries = readMailStoreEntries();
        entries.removeIf([&](const MailStoreEntry &entry) { return entry.name == original; });
        entries << changed;
        writeMailStoreEntries(entries);
    };
    ImapAccountWindow window(account, namesBesides(account.name), m_passwords, m_test, keep,
                             m_loader, this);
    window.exec();
    reload();
}

void MailStoresPanel::editStore()
{
    const std::optional<MailStoreEntry> store = selectedStore();
    if (!store)
        return;
    if (store->type == MailStoreEntry::Type::Imap) {
        editImapAccount(*store);
        return;
    }
    const std::optional<QString> path = askMaildir(store->path);
    if (!path || *path == store->path)
        return;
    QList<MailStoreEntry> entries = m_entries;
    for (MailStoreEntry &entry : entries) {
        if (entry.name == store->name)
            entry.path = *path;
    }
    write(entries);
}

void MailStoresPanel::renameStore()
{
    const std::optional<MailStoreEntry> store = selectedStore();
    if (!store)
        return;
    const std::optional<QString> name = askName(store->name, namesBesides(store->name));
    if (!name || *name == store->name)
        return;
    QList<MailStoreEntry> entries = m_entries;
    for (MailStoreEntry &entry : entries) {
        if (entry.name == store->name)
            entry.name = *name;
    }
    write(entries);
    for (int row = 0; row < storeList->topLevelItemCount(); ++row) {
        if (storeList->topLevelItem(row)->text(0) == *name)
            storeList->setCurrentItem(storeList->topLevelItem(row));
    }
}

void MailStoresPanel::removeStore()
{
    const std::optional<MailStoreEntry> store = selectedStore();
    if (!store)
        return;
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(),
                    QStringLiteral("Remove the mail store \"%1\" from the list? Its mail stays "
                                   "where it is.")
                        .arg(store->name),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    QList<MailStoreEntry> entries = m_entries;
    entries.removeIf([&](const MailStoreEntry &entry) { return entry.name == store->name; });
    if (!write(entries) || store->type != MailStoreEntry::Type::Imap)
        return;
    // The password goes with the last store of its account.
    for (const MailStoreEntry &entry : std::as_const(m_entries)) {
        if (entry.type == MailStoreEntry::Type::Imap &&
            StorePasswords::accountKey(entry) == StorePasswords::accountKey(*store))
            return;
    }
    m_passwords.forget(*store);
    try {
        m_passwords.keyring().remove(*store);
    } catch (const qb::Error &e) {
        plainBox(this, QMessageBox::Warning, QApplication::applicationName(), e.message());
    }
}
