#pragma once

#include "StringPool.h"
#include "SummaryReaders.h"
#include "mailstore/MailStore.h"
#include "worker/HandOverWorker.h"

#include <QStringList>

#include <deque>
#include <exception>
#include <memory>

class AttachmentList;
class TSettings;

// Walks the source folder and all of its subfolders, depth first, and appends one
// TAttach to the attachment list for every attachment found. Starts at once,
// reports through its status window and deletes itself when its run ends.
//
// Where the store allows it, emails are read ahead of the walk by a few reader threads;
// the walk takes their summaries in its own order, so the list is the same whatever
// the number of readers, and waits for no more than a bounded number of emails ahead.
class TAnalyseThread final : public HandOverWorker
{
    Q_OBJECT
public:
    // One reader thread per processor.
    static int defaultReaders();
    // The most emails the walk has queued beyond the one it finishes, with readers.
    static int readAhead(int readers);

    // Takes ownership of settings. With no readers, every email is read on the worker's
    // own thread, value by value.
    TAnalyseThread(TSettings *settings, StatusView *statusForm, HandOverHost *host,
                   mailstore::ApplicationFactory createApplication, AttachmentList *list,
                   int readers = defaultReaders());
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
    void work() override;
    void endRun() override;

private:
    // One step of the walk, in the walk's order, done once every earlier step is.
    struct Step
    {
        enum class Kind { FolderStart, Email, FolderEnd, Failure };
        Kind kind = Kind::Email;
        bool topFolder = false;
        std::shared_ptr<mailstore::Item> item;
        QString storeId;
        QString label;
        int index = 0;
        int count = 0;
        std::optional<mailstore::EmailSummary> summary; // known when the step was queued
        SummaryReaders::Ticket reading;                 // else being read, when not null
        QStringList skipped;
        std::exception_ptr failure;
    };

    void analyse();
    void walk(mailstore::Folder &folder, const QString &label, bool topFolder);
    void queue(Step step);
    // Does the oldest queued step; false once the walk has stopped for Cancel.
    void finishOldest();
    void finishEmail(Step &step);
    void appendRecords(const mailstore::EmailSummary &summary, Step &step);
    void collect(mailstore::Item &item, const QString &storeId, const QString &label);
    void appendRecord(mailstore::Item &item, mailstore::Attachment &attachment, int index,
                      const QString &storeId, const QString &label);
    // Shows what the stores' servers asked to be shown, as warnings.
    void postServerAlerts();

    std::unique_ptr<TSettings> Settings;
    qint32 EmailsProcessed = 0;
    QStringList m_unreadable;
    QStringList m_skipped; // entries of the folders that are no emails, and folders left out
    mailstore::ApplicationFactory m_createApplication;
    std::shared_ptr<mailstore::Namespace> m_mapi; // while the run has it
    AttachmentList *m_list;
    StringPool m_pool; // senders, folders, types and store ids repeat across records
    StringPool::Recent m_recentLabel;
    StringPool::Recent m_recentStoreId;
    TypePool m_types;
    const int m_readerCount;
    std::unique_ptr<SummaryReaders> m_readers; // while the walk runs
    std::deque<Step> m_ahead;                  // steps queued and not yet done
    bool m_stopped = false;                    // Cancel ended the walk: the rest is dropped
};
