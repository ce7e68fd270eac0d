#pragma once

#include "mailstore/MailStore.h"

#include <QDialog>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TFormInfo;
class TStringLoader;

// Picks the mail folder an analysis starts from, in one tree of every store's
// mail folders under "Email Folders". The tree is read when the dialog is first
// shown and again on Refresh; the dialog is kept, with its tree and selection.
// Its language-file section keeps the name TchooseFolder; registry key ...\Tamberline\chooseFolder.
class MailFolderChooser : public QDialog
{
    Q_OBJECT
public:
    // The window's section in the language file.
    static constexpr QLatin1String languageSection{"TchooseFolder"};

    MailFolderChooser(mailstore::ApplicationFactory stores, TStringLoader *loader, QWidget *parent);
    ~MailFolderChooser() override;

    // The chosen folder's entry id ("" for the root) and its path of node texts.
    QString selectedEntryId() const { return m_selectedEntryId; }
    QString selectedPath() const { return m_selectedPath; }

    void refreshButtonClick();

    QTreeWidget *folderTree;
    QPushButton *refreshButton;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void loadFolders(mailstore::Folders &folders, QTreeWidgetItem *parent);
    void folderTreeChange(QTreeWidgetItem *node);

    mailstore::ApplicationFactory m_stores;
    TFormInfo *m_placement;
    QString m_selectedEntryId;
    QString m_selectedPath;
    bool m_loaded = false;
};
