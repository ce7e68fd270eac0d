#pragma once

#include "UndoRecord.h"
#include "mailstore/MailStore.h"

#include <QString>

#include <functional>
#include <vector>

class TNullLog;

// Puts the emails of detach and save jobs back exactly as they were, from the jobs' undo
// records: an email that is still as the job left it (its SHA-256 the recorded "after")
// is rebuilt from the record and the saved files, checked against the recorded "before",
// and stored in its place in one step of its store's own (flags and received date kept).
// An email that changed since, or whose saved files are missing or changed, is refused
// and left as it is. Each email put back is noted in the record, so a second undo
// changes nothing.
class UndoJob
{
public:
    struct Options
    {
        bool removeSaved = false; // remove the saved files of the emails put back
    };

    enum class Kind {
        Done,    // put back
        Refused, // left as it is
        Already, // put back before, or never changed
    };
    struct Report
    {
        int done = 0;
        int refused = 0;
        int already = 0;
        bool cancelled = false;
    };

    struct Callbacks
    {
        std::function<void(const QString &)> status;
        std::function<void(Kind, const QString &)> outcome;
        std::function<bool()> cancelled;
    };

    // log gets an entry for each email; it may be a null log.
    UndoJob(Options options, TNullLog &log, Callbacks callbacks);

    Report run(mailstore::Namespace &mapi, const std::vector<undo::JobRecord> &jobs);

private:
    void putBack(mailstore::Namespace &mapi, const undo::JobRecord &job,
                 const undo::EmailRecord &email, undo::RecordWriter &writer);
    void noteUndone(undo::RecordWriter &writer, const undo::EmailRecord &email,
                    mailstore::Item &item);
    void removeSavedFiles(const undo::JobRecord &job, const std::vector<int> &emails);
    void say(Kind kind, const QString &text);

    Options m_options;
    TNullLog &m_log;
    Callbacks m_callbacks;
    Report m_report;
};
