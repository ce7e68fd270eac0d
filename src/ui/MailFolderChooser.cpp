#include "MailFolderChooser.h"

#include "PlainText.h"
#include "TFormInfo.h"
#include "common/Error.h"
#include "mailstore/FolderPath.h"

#include <QApplication>
#include <QCollator>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace {

enum Role { EntryIdRole = Qt::UserRole, HasRecordRole };

void sortChildren(QTreeWidgetItem *node, const QCollator &collator)
{
    QList<QTreeWidgetItem *> children = node->takeChildren();
    std::stable_sort(children.begin(), children.end(), [&](QTreeWidgetItem *a, QTreeWidgetItem *b) {
        return collator.compare(a->text(0), b->text(0)) < 0;
    });
    node->addChildren(children);
    for (QTreeWidgetItem *child : std::as_const(children))
        sortChildren(child, collator);
}

} // namespace

MailFolderChooser::MailFolderChooser(mailstore::ApplicationFactory stores, TStringLoader *loader,
                                     QWidget *parent)
    : QDialog(parent), m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("chooseFolder"));
    setWindowTitle(QStringLiteral("Please wait...loading folder information"));
    resize(360, 320);
    auto *label = new QLabel(QStringLiteral("&New folder:"), this);
    label->setObjectName(QStringLiteral("Label9"));
    folderTree = new QTreeWidget(this);
    folderTree->setObjectName(QStringLiteral("TreeView"));
    folderTree->setHeaderHidden(true);
    folderTree->setIndentation(19);
    label->setBuddy(folderTree);
    new QTreeWidgetItem(
        folderTree,
        {QStringLiteral("Please wait - refreshing folder list (this can take some time)")});

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton = buttons->button(QDialogButtonBox::Ok);
    okButton->setObjectName(QStringLiteral("BitBtn1"));
    okButton->setEnabled(false);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("BitBtn2"));
    refreshButton = buttons->addButton(QStringLiteral("&Refresh"), QDialogButtonBox::ResetRole);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    refreshButton->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(refreshButton, &QPushButton::clicked, this, &MailFolderChooser::refreshButtonClick);
    connect(folderTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { folderTreeChange(current); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(folderTree, 1);
    layout->addWidget(buttons);

    m_placement = TFormInfo::prepare(this, loader, languageSection, QStringLiteral("Tamberline"),
                                     QStringLiteral("chooseFolder"));
}

MailFolderChooser::~MailFolderChooser()
{
    try {
        m_placement->Save();
    } catch (const qb::Error &) {
        // Nothing to be done about a placement at the end.
    }
}

void MailFolderChooser::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        refreshButtonClick();
    }
}

void MailFolderChooser::refreshButtonClick()
{
    std::shared_ptr<mailstore::Application> application;
    try {
        application = m_stores();
    } catch (const qb::Error &e) {
        plainBox(this, QMessageBox::Critical, QApplication::applicationName(), e.message());
        return;
    }
    refreshButton->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    folderTree->setUpdatesEnabled(false);
    folderTree->clear();
    QString failure;
    try {
        const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
        auto *root =
            new QTreeWidgetItem(folderTree, {QString::fromLatin1(mailstore::folderTreeRoot)});
        root->setData(0, HasRecordRole, true);
        root->setIcon(0, themeIcon("mail-folder-inbox", QStyle::SP_DriveNetIcon));
        loadFolders(*mapi->folders(), root, true);
        if (const auto inbox = mapi->getDefaultFolder(mailstore::DefaultInbox))
            m_inboxEntryId = inbox->entryId();
    } catch (const qb::Error &e) {
        failure = e.message();
    }
    QTreeWidgetItem *root = folderTree->topLevelItem(0);
    if (root) {
        sortChildren(root, QCollator());
        root->setExpanded(true);
        if (root->childCount() > 0)
            root->child(0)->setExpanded(true);
    }
    folderTree->setUpdatesEnabled(true);
    showWantedFolder();
    refreshButton->setEnabled(true);
    QApplication::restoreOverrideCursor();
    setWindowTitle(QStringLiteral("Choose an email folder"));
    if (!failure.isEmpty())
        plainBox(this, QMessageBox::Critical, QApplication::applicationName(), failure);
}

QIcon MailFolderChooser::themeIcon(const char *name, QStyle::StandardPixmap fallback) const
{
    return QIcon::fromTheme(QString::fromLatin1(name), style()->standardIcon(fallback));
}

void MailFolderChooser::loadFolders(mailstore::Folders &folders, QTreeWidgetItem *parent,
                                    bool stores)
{
    const QIcon icon = stores ? themeIcon("drive-harddisk", QStyle::SP_DriveHDIcon)
                              : themeIcon("folder", QStyle::SP_DirIcon);
    const int count = folders.count();
    for (int i = 1; i <= count; ++i) {
        const auto folder = folders.item(i);
        if (folder->defaultItemType() != mailstore::MailItemType)
            continue;
        auto *node = new QTreeWidgetItem(parent, {folder->name()});
        node->setData(0, EntryIdRole, folder->entryId());
        node->setData(0, HasRecordRole, true);
        node->setIcon(0, icon);
        loadFolders(*folder->folders(), node, false);
    }
}

void MailFolderChooser::preselect(const QString &entryId)
{
    m_wantedEntryId = entryId;
    if (m_loaded)
        showWantedFolder();
}

void MailFolderChooser::showWantedFolder()
{
    // The folder asked for, else the default Inbox, else the first store.
    QTreeWidgetItem *wanted = nullptr;
    QTreeWidgetItem *inbox = nullptr;
    for (QTreeWidgetItemIterator it(folderTree); *it; ++it) {
        const QString id = (*it)->data(0, EntryIdRole).toString();
        if (id.isEmpty())
            continue;
        if (id == m_wantedEntryId)
            wanted = *it;
        if (id == m_inboxEntryId) {
            inbox = *it;
            inbox->setIcon(0, themeIcon("mail-folder-inbox", QStyle::SP_DirHomeIcon));
        }
    }
    QTreeWidgetItem *root = folderTree->topLevelItem(0);
    if (!wanted)
        wanted = inbox ? inbox : (root && root->childCount() > 0 ? root->child(0) : root);
    if (wanted) {
        folderTree->setCurrentItem(wanted);
        folderTree->scrollToItem(wanted);
    }
    folderTreeChange(folderTree->currentItem());
}

void MailFolderChooser::folderTreeChange(QTreeWidgetItem *node)
{
    // Only a folder can be analysed: not the tree's root, nor a line that says to wait.
    const bool folder = node && !node->data(0, EntryIdRole).toString().isEmpty();
    okButton->setEnabled(folder);
    if (!folder)
        return;
    m_selectedEntryId = node->data(0, EntryIdRole).toString();
    QStringList texts;
    for (QTreeWidgetItem *item = node; item; item = item->parent())
        texts.prepend(item->text(0));
    m_selectedPath = texts.join(QLatin1Char('\\'));
}
