#pragma once

// The processing layer: the workers, folder analysis (TAnalyseThread) and the
// delete/detach/save job (TEmailThread), with the naming of saved files and the
// notes. Links every layer below the windows: mailstore, worker, log, settings.

#include "FreedSpace.h"
#include "SaveNaming.h"
#include "SavedFilePlacer.h"
#include "UndoRecorder.h"
#include "mailstore/MailStore.h"
#include "mailstore/TAttach.h"
#include "worker/HandOverWorker.h"

#include <memory>
#include <vector>

class TNullLog;
class TSettings;

// Deletes, detaches or saves the selected attachments on a worker thread of its
// own, with a note in each email's body and an entry in the action log. The
// attachments of one email are handled together, highest position first, and the
// email is written once. Starts at once and deletes itself when its run ends.
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
        int done = 0;  // attachments whose change was stored
        QString error; // what stopped the job early; empty when nothing did
        QString freed; // what a delete or detach freed, as its log says; empty when unknown
    };

    // How long a job waits for another program that is changing the mail store.
    static constexpr int defaultLockTimeout = 600;

    // Takes ownership of settings; acquires the job's log.
    TEmailThread(TSettings *settings, StatusView *statusForm, HandOverHost *host,
                 mailstore::ApplicationFactory createApplication, SelectionTaker takeSelection,
                 bool deleteAttachments, bool saveAttachments,
                 int lockTimeoutSeconds = defaultLockTimeout);
    ~TEmailThread() override;

    // The name of the user running the job, as the log records it.
    static QString userName();

Q_SIGNALS:
    // Emitted on the main thread by the job's end step.
    void jobEnded(TEmailThread::Result result);

protected:
    void work() override;
    void endRun() override;

private:
    // An attachment done in memory, logged once its email is stored.
    struct Done
    {
        const TAttach *record;
        QString link;
        QString damage;
        QString noNote; // why no note was added, when none was
        // The saved file, whose SHA-256 the undo record keeps, and the attachment's
        // content type.
        SavedFilePlacer::Placed saved;
        QString contentType;
    };

    void lockStore(mailstore::Namespace &mapi);
    void processEmail(mailstore::Namespace &mapi, const Records &group, int &started, int total);
    // Returns an empty text when the attachment was processed, else why not.
    // unneeded is the file written for it while the attachment is still in the email.
    QString process(mailstore::Item &email, const TAttach &record, const QString &refusal,
                    std::vector<Done> &done, SavedFilePlacer::Placed &unneeded);
    // For a detach whose attachment stays in its email: removes the file this job wrote
    // for it, unless keptBecause says why not, and logs whether it went.
    void discardSaved(const TAttach &record, const SavedFilePlacer::Placed &saved,
                      const QString &keptBecause);
    void startAttachment(int number, int total);
    void watchForUndo(mailstore::Item &email, const TAttach &first, const std::vector<Done> &done);
    void logDone(const Done &done);
    void logFailure(const TAttach &record, const QString &why);
    void releaseLog();
    void EndOfJob();

    std::unique_ptr<TSettings> Settings;
    SavedFileList SavedFiles;
    SavedFilePlacer m_placer{SavedFiles};
    const bool DeleteAttachments;
    const bool SaveAttachments;
    TNullLog *JobLog;
    mailstore::ApplicationFactory m_createApplication;
    SelectionTaker m_takeSelection;
    const int m_lockTimeout;
    int m_total = 0;
    bool m_logReleased = false;
    Result m_result;
    // Without a log the job's status tells the first failure itself.
    QString m_firstFailure;
    FreedSpace m_freed;
    std::unique_ptr<UndoRecorder> m_undo; // detach and save jobs
};
