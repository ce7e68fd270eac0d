#pragma once

#include "mailstore/MailStore.h"
#include "StringPool.h"
#include "worker/HandOverWorker.h"

#include <QStringList>

#include <memory>

class AttachmentList;
class TSettings;

// Walks the source folder and all of its subfolders, depth first, and appends one
// TAttach to the attachment list for every attachment found. Starts at once,
// reports through its status window and deletes itself when its run ends.
class TAnalyseThread final : public HandOverWorker
{
    Q_OBJECT
public:
    // Takes ownership of settings.
    TAnalyseThread(TSettings *settings, StatusView *statusForm, HandOverHost *host,
                   mailstore::ApplicationFactory createApplication, AttachmentList *list);
    ~TAnalyseThread() override;

    // How many emails the walk has been through; read it on the main thread once
    // analysisEnded is emitted.
    int emailsProcessed() const { return EmailsProcessed; }

Q_SIGNALS:
    // Emitted on the main thread at the very end of the run: one line for each
    // email that could not be read (the walk went on without it) and for each
    // entry of the folders that was left out.
    void analysisEnded(const QStringList &unreadable);

protected:
    void run() override;

private:
    void analyse();
    void walk(mailstore::Folder &folder, const QString &label);
    void collect(mailstore::Item &item, const QString &storeId, const QString &label);
    void appendRecord(mailstore::Item &item, mailstore::Attachment &attachment, int index,
                      const QString &storeId, const QString &label);

    std::unique_ptr<TSettings> Settings;
    qint32 EmailsProcessed = 0;
    QStringList m_unreadable;
    QStringList m_skipped; // entries of the folders that are no emails, and folders left out
    mailstore::ApplicationFactory m_createApplication;
    AttachmentList *m_list;
    StringPool m_pool; // senders, folders, types and store ids repeat across records
};
