#include "MailFolderChooser.h"

#include "TFormInfo.h"
#include "common/Error.h"
#include "mailstore/FolderPath.h"

#include <QApplication>
#include <QCollator>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
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
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("BitBtn1"));
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
        QMessageBox::critical(this, QApplication::applicationName(), e.message());
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
        loadFolders(*mapi->folders(), root);
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
    refreshButton->setEnabled(true);
    QApplication::restoreOverrideCursor();
    setWindowTitle(QStringLiteral("Choose an email folder"));
    if (!failure.isEmpty())
        QMessageBox::critical(this, QApplication::applicationName(), failure);
}

void MailFolderChooser::loadFolders(mailstore::Folders &folders, QTreeWidgetItem *parent)
{
    const int count = folders.count();
    for (int i = 1; i <= count; ++i) {
        const auto folder = folders.item(i);
        if (folder->defaultItemType() != mailstore::MailItemType)
            continue;
        auto *node = new QTreeWidgetItem(parent, {folder->name()});
        node->setData(0, EntryIdRole, folder->entryId());
        node->setData(0, HasRecordRole, true);
        loadFolders(*folder->folders(), node);
    }
}

void MailFolderChooser::folderTreeChange(QTreeWidgetItem *node)
{
    if (!node || !node->data(0, HasRecordRole).toBool())
        return;
    m_selectedEntryId = node->data(0, EntryIdRole).toString();
    QStringList texts;
    for (QTreeWidgetItem *item = node; item; item = item->parent())
        texts.prepend(item->text(0));
    m_selectedPath = texts.join(QLatin1Char('\\'));
}
