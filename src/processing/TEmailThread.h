#pragma once

#include "HandOverWorker.h"
#include "SaveNaming.h"
#include "mailstore/MailStore.h"
#include "mailstore/TAttach.h"

#include <memory>
#include <vector>

class TNullLog;
class TSettings;

// Deletes, detaches or saves the selected attachments on a worker thread of its
// own, highest position first, with a note in each email's body and an entry in
// the action log. Starts at once and deletes itself when its run ends.
class TEmailThread final : public HandOverWorker
{
    Q_OBJECT
public:
    using Records = std::vector<std::shared_ptr<const TAttach>>;
    // Takes the selected rows' records; run on the main thread when the job starts.
    using SelectionTaker = std::function<Records()>;

    struct Result
    {
        int processed = 0; // attachments started, failed ones included
        int failed = 0;
        bool cancelled = false;
    };

    // Takes ownership of settings; acquires the job's log.
    TEmailThread(TSettings *settings, StatusWindow *statusForm, HandOverHost *host,
                 mailstore::ApplicationFactory createApplication, SelectionTaker takeSelection,
                 bool deleteAttachments, bool saveAttachments);
    ~TEmailThread() override;

    // The name of the user running the job, as the log records it.
    static QString userName();

Q_SIGNALS:
    // Emitted on the main thread by the job's end step.
    void jobEnded(TEmailThread::Result result);

protected:
    void run() override;

private:
    void runJob();
    // Returns an empty text when the attachment was processed, else why not.
    QString process(mailstore::Namespace &mapi, const TAttach &record);
    void EndOfJob();

    std::unique_ptr<TSettings> Settings;
    SavedFileList SavedFiles;
    const bool DeleteAttachments;
    const bool SaveAttachments;
    TNullLog *JobLog;
    mailstore::ApplicationFactory m_createApplication;
    SelectionTaker m_takeSelection;
    Result m_result;
};
