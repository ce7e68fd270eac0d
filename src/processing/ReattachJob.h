#pragma once

#include "DetachLog.h"
#include "mailstore/MailStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TNullLog;

// Undoes the detaches an action log records: each saved file goes back into the
// email whose note links to it, as the attachment it was, and the note comes out of
// the body. An email is changed only when every file it gets back still has the
// SHA-256 the log recorded, and then in one rewrite of the store's own (flags and
// received date kept, journalled, read back before it replaces the old one). Running
// it again changes nothing: an email without the note no longer links to the file.
//
// With relinkOnly, the notes' links are moved from movedFrom to movedTo instead (the
// user moved the folder of saved files) and the files stay where they are; the log
// gets a relink entry per note, so a later reattach with the same log looks for the
// new links and reads the files there by itself. Without it, movedFrom/movedTo say
// where to read files that were moved without relinking; emails are then found by the
// note's old or new link.
class ReattachJob
{
public:
    struct Options
    {
        QString movedFrom; // a folder; empty when nothing moved
        QString movedTo;
        bool relinkOnly = false;
    };

    enum class Kind {
        Done,     // put back, or relinked
        Refused,  // the email was left as it is
        NotFound, // no email (any longer) links to the file: done before, or the email is gone
    };
    struct Report
    {
        int done = 0;
        int refused = 0;
        int notFound = 0;
        bool cancelled = false;
    };

    struct Callbacks
    {
        std::function<void(const QString &)> status;
        std::function<void(Kind, const QString &)> outcome;
        std::function<bool()> cancelled;
    };

    // log gets an entry for each change, refusal and missing email; it may be a null log.
    ReattachJob(Options options, TNullLog &log, Callbacks callbacks);

    Report run(mailstore::Namespace &mapi, const std::vector<DetachRecord> &records);

    // path as it is after the move: under movedTo when it was under movedFrom.
    static QString movedPath(const QString &path, const QString &from, const QString &to);

private:
    struct Wanted;
    struct EmailWork;

    std::vector<EmailWork> findEmails(mailstore::Namespace &mapi, std::vector<Wanted> &wanted);
    void putBack(mailstore::Namespace &mapi, EmailWork &work);
    void relink(mailstore::Namespace &mapi, EmailWork &work);
    void say(Kind kind, const QString &text);

    Options m_options;
    TNullLog &m_log;
    Callbacks m_callbacks;
    Report m_report;
};
