#pragma once

#include "mailstore/MailStore.h"

#include <QDialog>
#include <QStyle>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TFormInfo;
class TStringLoader;

// Picks the mail folder an analysis starts from, in one tree of every store's
// mail folders under "Email Folders"; OK takes a folder, never the root. The tree is read when the
// dialog is first shown and again on Refresh; the dialog is kept, with its tree and selection. Its
// language-file section keeps the name TchooseFolder; registry key ...\Tamberline\chooseFolder.
class MailFolderChooser : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file.
    static constexpr QLatin1String languageSection{"TchooseFolder"};

    MailFolderChooser(mailstore::ApplicationFactory stores, TStringLoader *loader, QWidget *parent);
    ~MailFolderChooser() override;

    // The chosen folder's entry id and its path of node texts.
    QString selectedEntryId() const { return m_selectedEntryId; }
    QString selectedPath() const { return m_selectedPath; }

    // Opens on the folder with this entry id, or when the tree has none, on the default Inbox.
    void preselect(const QString &entryId);
    void refreshButtonClick();

    QTreeWidget *folderTree;
    QPushButton *okButton; // enabled on a folder that can be analysed
    QPushButton *refreshButton;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void loadFolders(mailstore::Folders &folders, QTreeWidgetItem *parent, bool stores);
    void showWantedFolder();
    void folderTreeChange(QTreeWidgetItem *node);
    QIcon themeIcon(const char *name, QStyle::StandardPixmap fallback) const;

    mailstore::ApplicationFactory m_stores;
    TFormInfo *m_placement;
    QString m_selectedEntryId;
    QString m_selectedPath;
    QString m_wantedEntryId;
    QString m_inboxEntryId;
    bool m_loaded = false;
};
